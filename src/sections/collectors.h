// Every collector of the scan, one per section. Each takes the scan and
// writes its section; none reports success or failure to its caller.
#pragma once

#include <string>

#include "sections/scan_context.h"

namespace veltrix {

void WriteBiosSection(ScanContext& scan);

// Devices, drivers, network, video, slots and the assessment scores.
void WriteVgaSection(ScanContext& scan);
void WriteHidSection(ScanContext& scan);
void WriteMultiMediaSection(ScanContext& scan);
void WriteSecuritySection(ScanContext& scan);
void WriteNetworkSection(ScanContext& scan);
void WriteSlotsSection(ScanContext& scan);
void WriteWinSatSection(ScanContext& scan);
void WritePnpSection(ScanContext& scan);
void WriteProblemDevicesSection(ScanContext& scan);

}  // namespace veltrix
