// The process-wide scan state shared by the windows and the scan driver.
#pragma once

#include <string>

namespace veltrix {

struct ScanState {
    std::string reportName;  // the typed name followed by ".htm"
    std::string comment;     // after EncodeHtmlChars; empty means no comment row
};

}  // namespace veltrix
