// Every collector of the scan, one per section. Each takes the scan and
// writes its section; none reports success or failure to its caller.
#pragma once

#include <string>

#include "sections/scan_context.h"

namespace veltrix {

void WriteBiosSection(ScanContext& scan);

}  // namespace veltrix
