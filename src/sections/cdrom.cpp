// The "CDROM" section: one block per optical drive with a caption; the
// section is left out when there is none and nothing failed.
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

void WriteCdromSection(ScanContext& scan) {
    constexpr std::string_view kTitle = "CDROM";
    Frame frame(scan);
    frame.connect();
    frame.query("Select * from Win32_CDROMDrive");
    int listed = 0;
    frame.forEach([&](const wmi::Object& drive) {
        if (!frame.textGuard(drive, "Caption")) return;
        frame.headOnce(kTitle);
        if (listed > 0) frame.spacer();
        frame.valueRow("Name", drive, "Caption");
        frame.valueRow("ID", drive, "Id");
        // A drive without a device id is shown without its firmware revision.
        if (frame.textGuard(drive, "DeviceID")) frame.valueRow("Firmware", drive, "MfrAssignedRevisionlevel");
        ++listed;
    });
    frame.finishLazy(kTitle);
}

}  // namespace veltrix
