// The "Battery" section: one block per battery, the serial number cut out of
// the device id.
#include <algorithm>
#include <cctype>

#include "core/ascii.h"
#include "report/text.h"
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

namespace {

// Our batteries carry the serial number in front of the maker's name in
// their device id. An id without the maker's name is shown whole: cutting
// at a missing marker has no meaning, and the id is the best identification
// the machine gives.
std::string serialFromDeviceId(const std::string& id) {
    constexpr std::string_view kMarker = "NORVANE";
    const std::size_t hit = findIgnoringCase(id, kMarker);
    if (hit == std::string_view::npos) return id;
    return id.substr(0, hit);
}

}  // namespace

void WriteBatterySection(ScanContext& scan) {
    constexpr std::string_view kTitle = "Battery";
    Frame frame(scan);
    frame.connect();
    frame.query("Select * from Win32_Battery");
    int count = 0;  // every battery object is listed
    frame.forEach([&](const wmi::Object& battery) {
        frame.headOnce(kTitle);
        if (count > 0) frame.spacer();
        frame.valueRow("Description", battery, "Description");
        frame.valueRow("Name", battery, "Name");
        // An unreadable id leaves the row out rather than showing another
        // battery's serial number.
        if (auto id = frame.readText(battery, "DeviceID")) {
            frame.row("Serialnumber", EscapeMarkup(serialFromDeviceId(*id)) + std::string(kNbsp));
        }
        ++count;
    });
    frame.finishLazy(kTitle);
}

}  // namespace veltrix
