// Every collector of the scan, one per section. Each takes the scan and
// writes its section; none reports success or failure to its caller.
#pragma once

#include <string>

#include "sections/scan_context.h"

namespace veltrix {

void WriteBiosSection(ScanContext& scan);

// Optional inventories, factory text file and diagnostics tool
void WriteHotfixSection(ScanContext& scan);
void WriteSoftwareSection(ScanContext& scan);
void WriteSysBuilderSection(ScanContext& scan);
// True when the file existed (and was copied), false when it did not exist.
bool CopyTextFileToReport(const std::string& path, ScanContext& scan);
void RunAtview32(ScanContext& scan);

}  // namespace veltrix
