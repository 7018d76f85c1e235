// The "Keyboard" section: one block per keyboard with a description.
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

void WriteKeyboardSection(ScanContext& scan) {
    constexpr std::string_view kTitle = "Keyboard";
    Frame frame(scan);
    frame.connect();
    frame.query("Select * from Win32_Keyboard");
    int listed = 0;
    frame.forEach([&](const wmi::Object& keyboard) {
        if (!frame.textGuard(keyboard, "Description")) return;
        frame.headOnce(kTitle);
        if (listed > 0) frame.spacer();
        frame.valueRow("Name", keyboard, "Description");
        if (frame.textGuard(keyboard, "Layout")) frame.valueRow("Device Layout", keyboard, "Layout");
        if (frame.textGuard(keyboard, "PNPDeviceID")) frame.valueRow("PNPDeviceID", keyboard, "PNPDeviceID");
        ++listed;
    });
    frame.finishLazy(kTitle, "Error: try to get data about Keyboard.");
}

}  // namespace veltrix
