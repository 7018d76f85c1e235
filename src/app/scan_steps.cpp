// The fixed order of the report's sections and the progress shown after each.
#include "app/scan_driver.h"
#include "sections/collectors.h"

namespace veltrix {

const std::vector<ScanStep>& scanSteps() {
    static const std::vector<ScanStep> steps = {
        {"RunAtview32", RunAtview32, -1},
        {"WritePropertiesSection", WritePropertiesSection, 3},
        {"WriteSystemInfoSection", WriteSystemInfoSection, 6},
        {"WriteMotherboardSection", WriteMotherboardSection, 8},
        {"WriteBiosSection", WriteBiosSection, 10},
        {"WriteCpuSection", WriteCpuSection, 18},
        {"WriteMemorySection", WriteMemorySection, 20},
        {"WriteVgaSection", WriteVgaSection, 25},
        {"WriteHddSection", WriteHddSection, 30},
        {"WriteRemovableDrivesSection", WriteRemovableDrivesSection, 35},
        {"WriteCdromSection", WriteCdromSection, 40},
        {"WriteModemSection", WriteModemSection, 45},
        {"WriteKeyboardSection", WriteKeyboardSection, 50},
        {"WriteMouseSection", WriteMouseSection, 54},
        {"WriteHidSection", WriteHidSection, 57},
        {"WriteMultiMediaSection", WriteMultiMediaSection, 59},
        {"WriteSecuritySection", WriteSecuritySection, 64},
        {"WriteBatterySection", WriteBatterySection, 66},
        {"WriteNetworkSection", WriteNetworkSection, 67},
        {"WriteSlotsSection", WriteSlotsSection, 70},
        {"WriteOsSection", WriteOsSection, 75},
        {"WriteWinSatSection", WriteWinSatSection, 77},
        {"WriteHotfixSection", WriteHotfixSection, 79},
        {"WriteSoftwareSection", WriteSoftwareSection, 82},
        {"WritePnpSection", WritePnpSection, 85},
        {"WriteProblemDevicesSection", WriteProblemDevicesSection, 90},
        {"WriteSysBuilderSection", WriteSysBuilderSection, -1},
    };
    return steps;
}

}  // namespace veltrix
