// The fixed order of the report's sections and the progress shown after each.
#include "app/scan_driver.h"
#include "sections/collectors.h"

namespace veltrix {

const std::vector<ScanStep>& scanSteps() {
    static const std::vector<ScanStep> steps = {
        {"WriteBiosSection", WriteBiosSection, 10},
    };
    return steps;
}

}  // namespace veltrix
