// The fixed order of the report's sections and the progress shown after each.
#include "app/scan_driver.h"
#include "sections/collectors.h"

namespace veltrix {

const std::vector<ScanStep>& scanSteps() {
    static const std::vector<ScanStep> steps = {
        {"WritePropertiesSection", WritePropertiesSection, 3},
        {"WriteSystemInfoSection", WriteSystemInfoSection, 6},
        {"WriteMotherboardSection", WriteMotherboardSection, 8},
        {"WriteBiosSection", WriteBiosSection, 10},
        {"WriteCpuSection", WriteCpuSection, 18},
        {"WriteMemorySection", WriteMemorySection, 20},
        {"WriteHddSection", WriteHddSection, 30},
        {"WriteRemovableDrivesSection", WriteRemovableDrivesSection, 35},
        {"WriteCdromSection", WriteCdromSection, 40},
        {"WriteModemSection", WriteModemSection, 45},
        {"WriteKeyboardSection", WriteKeyboardSection, 50},
        {"WriteMouseSection", WriteMouseSection, 54},
        {"WriteBatterySection", WriteBatterySection, 66},
        {"WriteOsSection", WriteOsSection, 75},
    };
    return steps;
}

}  // namespace veltrix
