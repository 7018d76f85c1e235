// The "Bios" section: four rows per BIOS, eager head.
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

void WriteBiosSection(ScanContext& scan) {
    Frame frame(scan);
    frame.connect();
    frame.query("Select * from Win32_Bios");
    frame.head("Bios");
    frame.forEach([&](const wmi::Object& bios) {
        frame.valueRow("Manufacturer", bios, "Manufacturer");
        frame.valueRow("Description", bios, "Description");
        frame.valueRow("SMBIOSBIOSVersion", bios, "SMBIOSBIOSVersion");
        frame.valueRow("SerialNumber", bios, "SerialNumber");
    });
    frame.errorRow();
    frame.foot();
}

}  // namespace veltrix
