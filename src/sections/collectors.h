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

// Optional inventories, factory text file and diagnostics tool
void WriteHotfixSection(ScanContext& scan);
void WriteSoftwareSection(ScanContext& scan);
void WriteSysBuilderSection(ScanContext& scan);
// True when the file existed (and was copied), false when it did not exist.
bool CopyTextFileToReport(const std::string& path, ScanContext& scan);
void RunAtview32(ScanContext& scan);

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
