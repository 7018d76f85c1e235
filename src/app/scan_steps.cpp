// The fixed order of the report's sections and the progress shown after each.
#include "app/scan_driver.h"
#include "sections/collectors.h"

namespace veltrix {

const std::vector<ScanStep>& scanSteps() {
    static const std::vector<ScanStep> steps = {
        {"RunAtview32", RunAtview32, -1},
        {"WriteBiosSection", WriteBiosSection, 10},
        {"WriteHotfixSection", WriteHotfixSection, 79},
        {"WriteSoftwareSection", WriteSoftwareSection, 82},
        {"WriteSysBuilderSection", WriteSysBuilderSection, -1},
    };
    return steps;
}

}  // namespace veltrix
