// The fixed order of the report's sections, the progress shown after each
// and the classes each reads.
#include <algorithm>

#include "app/scan_driver.h"
#include "sections/collectors.h"

namespace veltrix {

const std::vector<ScanStep>& scanSteps() {
    static const std::vector<ScanStep> steps = {
        {"RunAtview32", RunAtview32, -1},
        {"WritePropertiesSection", WritePropertiesSection, 3},
        {"WriteSystemInfoSection", WriteSystemInfoSection, 6, {"Win32_SystemEnclosure", "Win32_ComputerSystemProduct"}},
        {"WriteMotherboardSection", WriteMotherboardSection, 8, {"Win32_BaseBoard", "Win32_ComputerSystem"}},
        {"WriteBiosSection", WriteBiosSection, 10, {"Win32_Bios"}},
        {"WriteCpuSection", WriteCpuSection, 18, {"Win32_Processor"}},
        {"WriteMemorySection", WriteMemorySection, 20, {"Win32_PhysicalMemory"}},
        {"WriteVgaSection", WriteVgaSection, 25, {"Win32_VideoController"}},
        {"WriteHddSection", WriteHddSection, 30, {"Win32_DiskDrive"}},
        {"WriteRemovableDrivesSection", WriteRemovableDrivesSection, 35, {"Win32_LogicalDisk"}},
        {"WriteCdromSection", WriteCdromSection, 40, {"Win32_CDROMDrive"}},
        {"WriteModemSection", WriteModemSection, 45, {"Win32_POTSModem"}},
        {"WriteKeyboardSection", WriteKeyboardSection, 50, {"Win32_Keyboard"}},
        {"WriteMouseSection", WriteMouseSection, 54, {"Win32_PointingDevice"}},
        {"WriteHidSection", WriteHidSection, 57, {"Win32_PnPSignedDriver"}},
        {"WriteMultiMediaSection", WriteMultiMediaSection, 59, {"Win32_PnPSignedDriver"}},
        {"WriteSecuritySection", WriteSecuritySection, 64, {"Win32_PnPSignedDriver"}},
        {"WriteBatterySection", WriteBatterySection, 66, {"Win32_Battery"}},
        {"WriteNetworkSection", WriteNetworkSection, 67, {"Win32_NetworkAdapter", "Win32_PnPSignedDriver"}},
        {"WriteSlotsSection", WriteSlotsSection, 70, {"Win32_SystemSlot"}},
        {"WriteOsSection", WriteOsSection, 75, {"Win32_OperatingSystem"}},
        {"WriteWinSatSection", WriteWinSatSection, 77, {"Win32_WinSAT"}},
        {"WriteHotfixSection", WriteHotfixSection, 79, {"Win32_QuickFixEngineering"},
         &CheckBoxes::hotcheck},
        {"WriteSoftwareSection", WriteSoftwareSection, 82, {"Win32_OperatingSystem"}, &CheckBoxes::swcheck,
         true},
        {"WritePnpSection", WritePnpSection, 85, {"Win32_PnPSignedDriver", "Win32_NetworkAdapter"}},
        {"WriteProblemDevicesSection", WriteProblemDevicesSection, 90, {"Win32_PnPEntity"}},
        {"WriteSysBuilderSection", WriteSysBuilderSection, -1},
    };
    return steps;
}

namespace {
bool willRun(const ScanStep& step, const CheckBoxes& checkBoxes) {
    return !step.switchedBy || (checkBoxes.*step.switchedBy)() == 1;
}
}  // namespace

std::vector<std::string> classesToQuery(const CheckBoxes& checkBoxes) {
    std::vector<std::string> classes;
    for (const ScanStep& step : scanSteps()) {
        if (!willRun(step, checkBoxes)) continue;
        for (const std::string& name : step.classes) {
            if (std::find(classes.begin(), classes.end(), name) == classes.end()) classes.push_back(name);
        }
    }
    return classes;
}

bool registryToRead(const CheckBoxes& checkBoxes) {
    return std::any_of(scanSteps().begin(), scanSteps().end(),
                       [&](const ScanStep& step) { return step.readsRegistry && willRun(step, checkBoxes); });
}

}  // namespace veltrix
