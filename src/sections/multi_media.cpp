// The "MultiMedia" section (sound and imaging devices) and the driver-version
// lookup it shares with the network section.
#include "report/text.h"
#include "sections/collectors.h"
#include "sections/device_lookups.h"
#include "sections/frame.h"
#include "sections/signed_drivers.h"

namespace veltrix {

std::string GetDriverVersionByDescription(ScanContext& scan, std::string_view description) {
    if (!scan.driverVersions) {
        // One walk over all signed drivers answers every device of the scan:
        // a walk per device would grow with the square of the drivers.
        auto& versions = scan.driverVersions.emplace();
        Frame frame(scan, Frame::Mode::Lookup);
        frame.connect();
        frame.query("SELECT * FROM Win32_PnPSignedDriver");
        frame.forEach([&](const wmi::Object& driver) {
            auto driverDescription = frame.read(driver, "Description");
            if (!driverDescription || !driverDescription->isText()) return;
            auto driverVersion = frame.read(driver, "DriverVersion");
            if (!driverVersion || !Frame::isText(*driverVersion)) return;
            versions.emplace(driverDescription->asText(), driverVersion->asText());  // the first one stays
        });
    }
    auto found = scan.driverVersions->find(std::string(description));
    return found == scan.driverVersions->end() ? std::string() : found->second;
}

void WriteMultiMediaSection(ScanContext& scan) {
    Frame frame(scan);
    frame.connect();
    frame.query(signedDriverQuery("(DeviceClass='MEDIA') OR DeviceClass='IMAGE'"));
    int visited = 0;
    frame.forEach([&](const wmi::Object& device) {
        if (visited == 0) frame.head("MultiMedia");
        // Every device but the first gets its spacer, even one that then
        // writes no other row.
        if (visited > 0) frame.spacer();
        if (frame.textGuard(device, "Description")) {
            frame.valueRow("Name", device, "Description");
            if (auto description = frame.readText(device, "Description")) {
                std::string version = GetDriverVersionByDescription(scan, *description);
                if (!version.empty()) frame.row("Driver Version", EscapeMarkup(version) + std::string(kNbsp));
            }
        }
        if (frame.textGuard(device, "Manufacturer")) frame.valueRow("Manufacturer", device, "Manufacturer");
        ++visited;
    });
    // Failures show only as missing rows.
    if (frame.headWritten()) frame.foot();
}

}  // namespace veltrix
