#include "core/machine_identity.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "core/ascii.h"

namespace veltrix {

const std::vector<std::string_view>& PlaceholderSerials() {
    static const std::vector<std::string_view> kList = {
        "To be filled by O.E.M.",
        "To Be Filled By O.E.M.",
        "Default string",
        "System Serial Number",
        "Chassis Serial Number",
        "OEM Chassis Serial Number",
        "Base Board Serial Number",
        "Type2 - Board Serial Number",
        "0123456789",
        "123456789",
        "Not Specified",
        "Not Applicable",
        "Not Available",
        "None",
        "Unkown",
        "Unknown",
        "INVALID",
        "N/A",
        "NA",
        "OEM",
        "Serial",
        "SerialNumber",
        "System Serial#",
    };
    return kList;
}

bool IsPlaceholderSerial(std::string_view serial) {
    std::string_view text = trimView(serial);
    if (text.empty()) return true;
    if (std::all_of(text.begin(), text.end(), [&](char c) { return c == text.front(); })) return true;
    for (std::string_view placeholder : PlaceholderSerials()) {
        if (equalsIgnoringCase(text, placeholder)) return true;
    }
    return false;
}

std::optional<std::string> CanonicalUuid(std::string_view uuid) {
    std::string_view text = trimView(uuid);
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    std::string digits;
    for (char c : text) {
        if (c == '-') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (digits.size() != 32) return std::nullopt;
    return digits.substr(0, 8) + "-" + digits.substr(8, 4) + "-" + digits.substr(12, 4) + "-" + digits.substr(16, 4) +
           "-" + digits.substr(20);
}

bool IsPlaceholderUuid(std::string_view uuid) {
    auto canonical = CanonicalUuid(uuid);
    if (!canonical) return true;
    std::string digits;
    for (char c : *canonical) {
        if (c != '-') digits += c;
    }
    if (digits.find_first_not_of('0') == std::string::npos) return true;
    if (digits.find_first_not_of('F') == std::string::npos) return true;
    // Boards whose maker left the field at the reference firmware's value,
    // in either byte order.
    static constexpr std::string_view kReferenceValue = "03000200-0400-0500-0006-000700080009";
    return *canonical == kReferenceValue || ByteSwappedUuid(*canonical) == kReferenceValue;
}

std::string ByteSwappedUuid(std::string_view canonical) {
    if (canonical.size() != 36) return std::string(canonical);
    auto swapPairs = [](std::string_view field) {
        std::string out;
        for (std::size_t i = field.size(); i >= 2; i -= 2) out += field.substr(i - 2, 2);
        return out;
    };
    return swapPairs(canonical.substr(0, 8)) + "-" + swapPairs(canonical.substr(9, 4)) + "-" +
           swapPairs(canonical.substr(14, 4)) + std::string(canonical.substr(18));
}

std::optional<std::string> SerialKey(std::string_view serial) {
    if (IsPlaceholderSerial(serial)) return std::nullopt;
    std::string key(trimView(serial));
    for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key;
}

std::optional<std::string> CanonicalMac(std::string_view mac) {
    std::string digits;
    for (char c : trimView(mac)) {
        if (c == ':' || c == '-' || c == '.') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        digits += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (digits.size() != 12) return std::nullopt;
    if (digits == "000000000000" || digits == "FFFFFFFFFFFF") return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < 12; i += 2) {
        if (i > 0) out += ':';
        out += digits.substr(i, 2);
    }
    return out;
}

MachineIdentity UsableIdentity(const MachineIdentity& seen) {
    MachineIdentity out;
    if (seen.hostName && !trimView(*seen.hostName).empty()) out.hostName = std::string(trimView(*seen.hostName));
    if (seen.uuid && !IsPlaceholderUuid(*seen.uuid)) out.uuid = CanonicalUuid(*seen.uuid);
    auto serial = [](const std::optional<std::string>& text) -> std::optional<std::string> {
        if (!text || IsPlaceholderSerial(*text)) return std::nullopt;
        return std::string(trimView(*text));
    };
    out.enclosureSerial = serial(seen.enclosureSerial);
    out.boardSerial = serial(seen.boardSerial);
    out.biosSerial = serial(seen.biosSerial);
    for (const auto& mac : seen.macs) {
        if (auto canonical = CanonicalMac(mac);
            canonical && std::find(out.macs.begin(), out.macs.end(), *canonical) == out.macs.end()) {
            out.macs.push_back(*canonical);
        }
    }
    return out;
}

std::optional<std::string> WhyDifferentMachines(const MachineIdentity& before, const MachineIdentity& after) {
    const MachineIdentity a = UsableIdentity(before), b = UsableIdentity(after);
    if (a.uuid && b.uuid && *a.uuid != *b.uuid && ByteSwappedUuid(*a.uuid) != *b.uuid) {
        return "the old scan's UUID is " + *a.uuid + ", the new one's " + *b.uuid;
    }
    const std::pair<const char*, std::optional<std::string> MachineIdentity::*> serials[] = {
        {"enclosure serial", &MachineIdentity::enclosureSerial},
        {"board serial", &MachineIdentity::boardSerial},
        {"BIOS serial", &MachineIdentity::biosSerial}};
    for (const auto& [name, member] : serials) {
        const auto &x = a.*member, &y = b.*member;
        if (!x || !y) continue;
        if (!equalsIgnoringCase(*x, *y)) {
            return std::string("the old scan's ") + name + " is " + *x + ", the new one's " + *y;
        }
        break;
    }
    return std::nullopt;
}

}  // namespace veltrix
