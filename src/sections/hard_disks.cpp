// The "HDD" section: one block per physical disk larger than 256 MiB; always
// present, head first.
#include "sections/collectors.h"
#include "sections/frame.h"
#include "sections/storage_size.h"

namespace veltrix {

void WriteHddSection(ScanContext& scan) {
    Frame frame(scan);
    frame.head("HDD");
    frame.connect();
    frame.query("Select * from Win32_DiskDrive Where Size >'268435456'");
    int listed = 0;
    frame.forEach([&](const wmi::Object& disk) {
        if (listed > 0) frame.spacer();
        frame.valueRow("Name", disk, "Model");
        if (auto bytes = readByteCount(frame, disk, "Size")) {
            frame.row("Size", diskSizeText(*bytes) + std::string(kNbsp));
        }
        frame.valueRow("Firmware", disk, "Firmwarerevision");
        frame.valueRow("Model", disk, "Model");
        frame.valueRow("Partitions", disk, "Partitions");
        frame.valueRow("SerialNumber", disk, "SerialNumber");
        frame.valueRow("Status", disk, "Status");
        ++listed;
    });
    frame.errorRow();
    frame.foot();
}

}  // namespace veltrix
