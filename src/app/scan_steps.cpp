// The fixed order of the report's sections and the progress shown after each.
#include "app/scan_driver.h"
#include "sections/collectors.h"

namespace veltrix {

const std::vector<ScanStep>& scanSteps() {
    static const std::vector<ScanStep> steps = {
        {"WriteBiosSection", WriteBiosSection, 10},
        {"WriteVgaSection", WriteVgaSection, 25},
        {"WriteHidSection", WriteHidSection, 57},
        {"WriteMultiMediaSection", WriteMultiMediaSection, 59},
        {"WriteSecuritySection", WriteSecuritySection, 64},
        {"WriteNetworkSection", WriteNetworkSection, 67},
        {"WriteSlotsSection", WriteSlotsSection, 70},
        {"WriteWinSatSection", WriteWinSatSection, 77},
        {"WritePnpSection", WritePnpSection, 85},
        {"WriteProblemDevicesSection", WriteProblemDevicesSection, 90},
    };
    return steps;
}

}  // namespace veltrix
