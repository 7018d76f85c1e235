// The "HID Devices" section: human-interface devices.
#include "sections/collectors.h"
#include "sections/frame.h"
#include "sections/signed_drivers.h"

namespace veltrix {

void WriteHidSection(ScanContext& scan) {
    Frame frame(scan);
    frame.connect(wmi::kShortMoniker);
    frame.query(signedDriverQuery("DeviceClass='HIDCLASS'"));
    frame.head("HID Devices");
    int visited = 0;
    frame.forEach([&](const wmi::Object& device) {
        if (frame.textGuard(device, "DeviceName")) {
            if (visited > 0) frame.spacer();
            writeDriverIdentityRows(frame, device);
            if (frame.textGuard(device, "Manufacturer")) frame.valueRow("Manufacturer", device, "Manufacturer");
        }
        ++visited;
    });
    frame.errorRow();
    frame.foot();
}

}  // namespace veltrix
