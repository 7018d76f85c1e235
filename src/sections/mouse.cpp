// The "Mouse" section: always present, one block per pointing device.
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

void WriteMouseSection(ScanContext& scan) {
    Frame frame(scan);
    frame.connect();
    frame.query("Select * from Win32_PointingDevice");
    frame.head("Mouse");
    int listed = 0;
    frame.forEach([&](const wmi::Object& mouse) {
        // The spacer comes before the description is looked at, so a nameless
        // device after a listed one still leaves its spacer.
        if (listed > 0) frame.spacer();
        if (!frame.textGuard(mouse, "Description")) return;
        frame.valueRow("Name", mouse, "Description");
        if (frame.textGuard(mouse, "Manufacturer")) frame.valueRow("Manufacturer", mouse, "Manufacturer");
        if (frame.textGuard(mouse, "PNPDeviceID")) frame.valueRow("PNPDeviceID", mouse, "PNPDeviceID");
        ++listed;
    });
    frame.errorRow();
    frame.foot();
}

}  // namespace veltrix
