// The "Slots" section: every expansion slot in use or free, side by side in
// one row of nested tables.
#include "report/text.h"
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

namespace {

// Fixed output: "Belegung" (German for usage) is the label every report has carried.
constexpr std::string_view kSlotsLabel =
    "<table border='0' cellspacing='3' cellpadding='0'><tr><td>Tag</td></tr><tr><td>Slot Description</td></tr>"
    "<tr><td>Belegung</td></tr></table>";
constexpr std::string_view kSlotsValueStart = "<table border='0' cellspacing='0' cellpadding='0'><tr>";
constexpr std::string_view kSlotsValueEnd = "</table>";

// The slot's text when it passes the text guard, otherwise empty.
std::string guardedText(Frame& frame, const wmi::Object& slot, std::string_view property) {
    if (!frame.textGuard(slot, property)) return {};
    auto text = frame.readText(slot, property);
    return text ? EscapeMarkup(*text) : std::string();
}

std::string usageText(Frame& frame, const wmi::Object& slot) {
    auto usage = frame.read(slot, "currentusage");
    if (!usage || !usage->isInt32()) return {};
    if (usage->asInt32() == 3) return "Nein";
    if (usage->asInt32() == 4) return "Ja";
    return {};
}

}  // namespace

void WriteSlotsSection(ScanContext& scan) {
    Frame frame(scan);
    std::string value(kSlotsValueStart);
    frame.connect();
    frame.query("Select * from Win32_SystemSlot");
    frame.head("Slots");
    frame.forEach([&](const wmi::Object& slot) {
        if (!frame.integerGuard(slot, "currentusage")) return;
        std::string usage = usageText(frame, slot);
        std::string tag = guardedText(frame, slot, "Tag");
        std::string designation = guardedText(frame, slot, "SlotDesignation");
        // Fixed output: border='0 ' with its space, as every report has it.
        value += "<td><table border='0 ' cellspacing='3' cellpadding='0'><tr><td>";
        value += tag;
        value += "</td>";
        value += "</tr><tr><td>";
        value += designation;
        value += "</td></tr><tr><td>";
        value += usage;
        value += "</td></tr></table></td>";
    });
    // Any failure replaces the whole row: a partial slot list would mislead.
    if (frame.failed()) {
        frame.errorRow();
    } else {
        frame.row(kSlotsLabel, value + std::string(kSlotsValueEnd));
    }
    frame.foot();
}

}  // namespace veltrix
