// The "Memory" section: one block per memory module of a known type, the
// capacity in whole megabytes.
#include "sections/memory.h"

#include "report/formats.h"
#include "report/text.h"
#include "sections/collectors.h"
#include "sections/frame.h"

namespace veltrix {

bool IsBlankValue(const wmi::Value& value) {
    if (value.isNull()) return true;
    if (!value.isText()) return false;
    return value.asText().find_first_not_of(' ') == std::string::npos;
}

namespace {

// A row for a property that is not blank; an unreadable property writes nothing.
void rowUnlessBlank(Frame& frame, const wmi::Object& module, std::string_view label, std::string_view property) {
    auto value = frame.read(module, property);
    if (!value || IsBlankValue(*value)) return;
    if (auto text = frame.textOf(*value)) frame.row(label, EscapeMarkup(*text) + std::string(kNbsp));
}

// Capacity arrives as a decimal byte count. Null or zero gives no row; text
// that is not a number is a failure and gives no row either.
void capacityRow(Frame& frame, const wmi::Object& module) {
    auto value = frame.read(module, "Capacity");
    if (!value || value->isNull()) return;
    double bytes = 0;
    if ((!value->isText() && !value->isNumber()) || !value->toNumber(bytes)) {
        frame.fail({failure_code::kTypeMismatch, "Type mismatch: Capacity is not a number"});
        return;
    }
    if (!(bytes > 0)) return;
    // Halves go to the even neighbour; 64 bits hold every real size, and a
    // count beyond them is no size at all.
    const auto megabytes = roundHalfEven(bytes / 1048576.0);
    if (!megabytes) {
        frame.fail({failure_code::kTypeMismatch, "Type mismatch: Capacity is not a number"});
        return;
    }
    frame.row("Capacity", std::to_string(*megabytes) + " MB");
}

constexpr std::string_view kListedProperties[] = {
    "HotSwappable", "InstallDate", "Manufacturer", "Model",  "OtherIdentifyingInfo",
    "PartNumber",   "PoweredOn",   "Removable",    "Replaceable", "SerialNumber",
    "SKU",          "Speed",       "Status",       "Tag",    "Version",
};

}  // namespace

void WriteMemorySection(ScanContext& scan) {
    Frame frame(scan);
    frame.head("Memory");
    frame.connect();
    frame.query("Select * from Win32_PhysicalMemory");
    int listed = 0;
    frame.forEach([&](const wmi::Object& module) {
        // Only modules of a known memory type are listed; an unreadable type
        // counts as known.
        auto type = frame.read(module, "MemoryType");
        if (type && type->kind() != wmi::Kind::Int32 && type->kind() != wmi::Kind::UInt8) return;
        if (listed > 0) frame.spacer();
        rowUnlessBlank(frame, module, "BankLabel", "BankLabel");
        capacityRow(frame, module);
        if (frame.integerGuard(module, "Speed")) {
            frame.valueRow("Speed", module, "Speed");
        } else {
            frame.row("Speed", "unknown");
        }
        if (frame.textGuard(module, "DeviceLocator")) frame.valueRow("Slot", module, "DeviceLocator");
        for (std::string_view property : kListedProperties) rowUnlessBlank(frame, module, property, property);
        ++listed;
    });
    frame.errorRow();
    frame.foot();
}

}  // namespace veltrix
