// Every collector of the scan, one per section. Each takes the scan and
// writes its section; none reports success or failure to its caller.
#pragma once

#include <string>

#include "sections/scan_context.h"

namespace veltrix {

void WriteBiosSection(ScanContext& scan);

// Devices, identity, memory and storage.
void WritePropertiesSection(ScanContext& scan);
void WriteSystemInfoSection(ScanContext& scan);
void WriteMotherboardSection(ScanContext& scan);
void WriteCpuSection(ScanContext& scan);
void WriteMemorySection(ScanContext& scan);
void WriteHddSection(ScanContext& scan);
void WriteRemovableDrivesSection(ScanContext& scan);
void WriteCdromSection(ScanContext& scan);
void WriteModemSection(ScanContext& scan);
void WriteKeyboardSection(ScanContext& scan);
void WriteMouseSection(ScanContext& scan);
void WriteBatterySection(ScanContext& scan);
void WriteOsSection(ScanContext& scan);

}  // namespace veltrix
