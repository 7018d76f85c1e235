#include "providers/linux/pci_ids.h"

#include <cctype>

#include "providers/linux/sysfs_reader.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

namespace {
bool isHexDigits(std::string_view text, std::size_t count) {
    if (text.size() < count) return false;
    for (std::size_t i = 0; i < count; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

// "8086  Intel Corporation" -> id and name; nullopt when the line is not one.
std::optional<std::pair<std::uint32_t, std::string>> idAndName(std::string_view line, std::size_t digits) {
    if (!isHexDigits(line, digits) || line.size() <= digits || (line[digits] != ' ' && line[digits] != '\t'))
        return std::nullopt;
    auto id = parseHex(line.substr(0, digits));
    std::string name = trim(line.substr(digits));
    if (!id || name.empty()) return std::nullopt;
    return std::make_pair(static_cast<std::uint32_t>(*id), name);
}
}  // namespace

void IdsDatabase::parse(std::string_view text) {
    enum class Section { None, Vendor, Class, Other } section = Section::None;
    std::uint32_t current = 0;
    for (std::string_view line : splitLines(text)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] != '\t') {
            if (auto v = idAndName(line, 4)) {
                section = Section::Vendor;
                current = v->first;
                vendors_[current] = v->second;
            } else if (startsWith(line, "C ")) {
                auto c = idAndName(line.substr(2), 2);
                section = c ? Section::Class : Section::Other;
                if (c) {
                    current = c->first;
                    classes_[(current << 16) | 0xFFFF] = c->second;
                }
            } else {
                section = Section::Other;
            }
            continue;
        }
        if (line.size() > 1 && line[1] == '\t') continue;  // subsystems, programming interfaces
        std::string_view rest = line.substr(1);
        if (section == Section::Vendor) {
            if (auto d = idAndName(rest, 4)) devices_[(current << 16) | d->first] = d->second;
        } else if (section == Section::Class) {
            if (auto d = idAndName(rest, 2)) classes_[(current << 16) | d->first] = d->second;
        }
    }
    loaded_ = true;
}

void IdsDatabase::load() {
    if (loaded_) return;
    loaded_ = true;
    if (path_.empty()) return;
    if (auto text = readRegularFile(path_)) parse(*text);
}

std::optional<std::string> IdsDatabase::vendor(std::uint16_t vendorId) {
    load();
    auto it = vendors_.find(vendorId);
    if (it == vendors_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> IdsDatabase::device(std::uint16_t vendorId, std::uint16_t deviceId) {
    load();
    auto it = devices_.find((static_cast<std::uint32_t>(vendorId) << 16) | deviceId);
    if (it == devices_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> IdsDatabase::className(std::uint8_t classCode, std::uint16_t subclass) {
    load();
    auto it = classes_.find((static_cast<std::uint32_t>(classCode) << 16) | subclass);
    if (it == classes_.end()) return std::nullopt;
    return it->second;
}

}  // namespace veltrix::linux_provider
