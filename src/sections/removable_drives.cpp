// The "Removeable Drives" section: floppy drives, card readers and sticks.
// Left out when there is none; a failure with none listed shows as "FDD".
#include "sections/collectors.h"
#include "sections/frame.h"
#include "sections/storage_size.h"

namespace veltrix {

void WriteRemovableDrivesSection(ScanContext& scan) {
    Frame frame(scan);
    frame.connect();
    frame.query("Select * from Win32_LogicalDisk Where DriveType ='2'");
    int listed = 0;
    frame.forEach([&](const wmi::Object& drive) {
        if (!frame.textGuard(drive, "Description")) return;
        frame.headOnce("Removeable Drives");  // fixed output: the title is spelled so in every report
        if (listed > 0) frame.spacer();
        frame.valueRow("Name", drive, "Description");
        if (frame.textGuard(drive, "DeviceID")) frame.valueRow("DeviceID", drive, "DeviceID");
        // Free space is Null when the drive holds no medium; the size shown
        // is the medium's size.
        auto freeSpace = frame.read(drive, "FreeSpace");
        bool medium = !freeSpace || freeSpace->isText() || freeSpace->isNumber();
        if (medium && frame.lengthGuard(drive, "DeviceID")) {
            if (auto bytes = readByteCount(frame, drive, "Size")) {
                frame.row("Size", megabyteText(*bytes) + std::string(kNbsp));
            }
        }
        ++listed;
    });
    frame.finishLazy("FDD", "Error: try to get data about floppy drive.");
}

}  // namespace veltrix
