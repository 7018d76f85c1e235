#include "fleet/host_identity.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace veltrix::fleet {
namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// Values firmware writes where the maker left the field unset.
bool placeholderSerial(const std::string& serial) {
    static constexpr std::array<std::string_view, 22> kPlaceholders{
        "TO BE FILLED BY O.E.M.", "TO BE FILLED BY OEM", "DEFAULT STRING", "SYSTEM SERIAL NUMBER",
        "CHASSIS SERIAL NUMBER", "BASE BOARD SERIAL NUMBER", "SERIAL NUMBER", "NOT SPECIFIED",
        "NOT APPLICABLE", "NOT AVAILABLE", "NONE", "N/A", "NA", "INVALID", "UNKNOWN", "O.E.M.", "OEM",
        "0123456789", "123456789", "1234567890", "EMPTY", "NULL"};
    if (std::find(kPlaceholders.begin(), kPlaceholders.end(), serial) != kPlaceholders.end()) return true;
    // "0000000", "XXXXXXXX", "........": one character repeated.
    return std::all_of(serial.begin(), serial.end(), [&](char c) { return c == serial.front(); }) &&
           (serial.front() == '0' || serial.front() == 'X' || serial.front() == '.' || serial.front() == '-' ||
            serial.front() == 'F' || serial.front() == '*');
}

std::optional<std::string> present(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    std::string_view value = trimmed(*text);
    if (value.empty()) return std::nullopt;
    return std::string(value);
}

}  // namespace

std::optional<std::string> normalisedUuid(std::string_view text) {
    text = trimmed(text);
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return std::nullopt;
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        out += c;
    }
    auto all = [&](char digit) {
        return std::all_of(out.begin(), out.end(), [&](char c) { return c == '-' || c == digit; });
    };
    if (all('0') || all('f')) return std::nullopt;
    return out;
}

std::string swappedUuid(const std::string& uuid) {
    // aabbccdd-eeff-gghh-... -> ddccbbaa-ffee-hhgg-...
    std::string out = uuid;
    auto swapField = [&](std::size_t start, std::size_t bytes) {
        for (std::size_t i = 0; i < bytes; ++i) {
            out[start + 2 * i] = uuid[start + 2 * (bytes - 1 - i)];
            out[start + 2 * i + 1] = uuid[start + 2 * (bytes - 1 - i) + 1];
        }
    };
    swapField(0, 4);
    swapField(9, 2);
    swapField(14, 2);
    return out;
}

std::optional<std::string> normalisedSerial(std::string_view text) {
    text = trimmed(text);
    if (text.empty()) return std::nullopt;
    std::string serial = upper(text);
    if (placeholderSerial(serial)) return std::nullopt;
    return serial;
}

HostIdentity normalisedIdentity(const data::MachineIdentity& machine) {
    HostIdentity identity;
    identity.hostName = present(machine.hostName);
    if (machine.uuid) identity.uuid = normalisedUuid(*machine.uuid);
    if (machine.enclosureSerial) identity.enclosureSerial = normalisedSerial(*machine.enclosureSerial);
    if (machine.boardSerial) identity.boardSerial = normalisedSerial(*machine.boardSerial);
    if (machine.biosSerial) identity.biosSerial = normalisedSerial(*machine.biosSerial);
    for (const auto& mac : machine.macs) {
        std::string value = upper(trimmed(mac));
        if (!value.empty()) identity.macs.push_back(value);
    }
    return identity;
}

bool sameHardware(const HostIdentity& a, const HostIdentity& b) {
    if (a.uuid && b.uuid) return *a.uuid == *b.uuid || *a.uuid == swappedUuid(*b.uuid);
    auto same = [](const std::optional<std::string>& x, const std::optional<std::string>& y) {
        return x && y && *x == *y;
    };
    return same(a.enclosureSerial, b.enclosureSerial) || same(a.boardSerial, b.boardSerial) ||
           same(a.biosSerial, b.biosSerial);
}

}  // namespace veltrix::fleet
