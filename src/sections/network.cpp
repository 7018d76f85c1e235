// The "Networkdevices" section: every adapter with a connection id, with its
// driver version, device id and MAC address.
#include "report/text.h"
#include "sections/collectors.h"
#include "sections/device_lookups.h"
#include "sections/frame.h"

namespace veltrix {

void WriteNetworkSection(ScanContext& scan) {
    Frame frame(scan);
    // The head comes before WMI is contacted, so a failure always shows
    // inside this table.
    frame.head("Networkdevices");
    frame.connect();
    frame.query("SELECT * FROM Win32_NetworkAdapter WHERE NetConnectionID  > 0 ");
    int listed = 0;
    frame.forEach([&](const wmi::Object& adapter) {
        if (!frame.textGuard(adapter, "Description")) return;
        if (listed > 0) frame.spacer();
        frame.valueRow("Description", adapter, "Description");
        if (auto description = frame.readText(adapter, "Description")) {
            std::string version = GetDriverVersionByDescription(scan, *description);
            if (!version.empty()) frame.row("Driver Version", EscapeMarkup(version) + std::string(kNbsp));
        }
        if (frame.textGuard(adapter, "PNPDeviceID")) {
            if (auto id = frame.readText(adapter, "PNPDeviceID")) {
                frame.row("PNPDeviceID", EscapeMarkup(CutPnpDeviceId(*id)) + std::string(kNbsp));
            }
        }
        if (frame.textGuard(adapter, "MACAddress")) frame.valueRow("Mac-Address", adapter, "MACAddress");
        ++listed;
    });
    if (listed == 0) frame.row(kNbsp, "Networkdevices not present.");
    frame.errorRow();
    frame.foot();
}

}  // namespace veltrix
