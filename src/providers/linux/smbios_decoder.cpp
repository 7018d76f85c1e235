#include "providers/linux/smbios_decoder.h"

#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

std::optional<std::uint8_t> SmbiosStructure::byte(std::size_t offset) const {
    if (offset >= formatted.size()) return std::nullopt;
    return static_cast<std::uint8_t>(formatted[offset]);
}

std::optional<std::uint16_t> SmbiosStructure::word(std::size_t offset) const {
    auto lo = byte(offset), hi = byte(offset + 1);
    if (!lo || !hi) return std::nullopt;
    return static_cast<std::uint16_t>(*lo | (*hi << 8));
}

std::optional<std::uint32_t> SmbiosStructure::dword(std::size_t offset) const {
    auto lo = word(offset), hi = word(offset + 2);
    if (!lo || !hi) return std::nullopt;
    return static_cast<std::uint32_t>(*lo) | (static_cast<std::uint32_t>(*hi) << 16);
}

std::optional<std::string> SmbiosStructure::string(std::size_t offset) const {
    auto index = byte(offset);
    if (!index || *index == 0 || *index > strings.size()) return std::nullopt;
    std::string s = trim(strings[*index - 1]);
    if (s.empty()) return std::nullopt;
    return utf8OrCp1252(std::move(s));
}

std::vector<SmbiosStructure> decodeSmbiosTable(std::string_view table) {
    std::vector<SmbiosStructure> out;
    std::size_t pos = 0;
    while (pos + 4 <= table.size()) {
        auto type = static_cast<std::uint8_t>(table[pos]);
        std::size_t length = static_cast<std::uint8_t>(table[pos + 1]);
        if (length < 4 || pos + length > table.size()) break;
        SmbiosStructure s;
        s.type = type;
        s.handle = static_cast<std::uint16_t>(static_cast<std::uint8_t>(table[pos + 2]) |
                                              (static_cast<std::uint8_t>(table[pos + 3]) << 8));
        s.formatted = std::string(table.substr(pos, length));
        // The string set ends with two NUL bytes (also when it is empty).
        std::size_t end = table.find(std::string_view("\0\0", 2), pos + length);
        if (end == std::string_view::npos) break;
        std::size_t p = pos + length;
        while (p < end + 1) {
            std::size_t z = table.find('\0', p);
            if (z == p) break;  // empty set: the first NUL of the pair
            s.strings.emplace_back(table.substr(p, z - p));
            p = z + 1;
            if (p > end) break;
        }
        out.push_back(std::move(s));
        pos = end + 2;
        if (type == 127) break;
    }
    return out;
}

namespace {
SmbiosMemoryDevice memoryDevice(const SmbiosStructure& s) {
    SmbiosMemoryDevice m;
    m.deviceLocator = s.string(0x10);
    m.bankLocator = s.string(0x11);
    m.memoryType = s.byte(0x12).value_or(0);
    m.formFactor = s.byte(0x0E).value_or(0);
    m.manufacturer = s.string(0x17);
    m.serial = s.string(0x18);
    m.assetTag = s.string(0x19);
    m.partNumber = s.string(0x1A);
    std::uint16_t size = s.word(0x0C).value_or(0xFFFF);
    if (size == 0xFFFF) {
        m.sizeKnown = false;
    } else if (size == 0x7FFF) {
        // Larger than 32 GB - 1 MB: the extended field holds megabytes.
        if (auto ext = s.dword(0x1C)) m.sizeBytes = static_cast<std::uint64_t>(*ext & 0x7FFFFFFFu) << 20;
        else m.sizeKnown = false;
    } else if (size & 0x8000) {
        m.sizeBytes = static_cast<std::uint64_t>(size & 0x7FFF) << 10;
    } else {
        m.sizeBytes = static_cast<std::uint64_t>(size) << 20;
    }
    std::uint16_t speed = s.word(0x15).value_or(0);
    if (speed == 0xFFFF) m.speed = s.dword(0x54).value_or(0);
    else m.speed = speed;
    return m;
}
}  // namespace

SmbiosInventory readSmbiosInventory(std::string_view table) {
    SmbiosInventory inv;
    for (const SmbiosStructure& s : decodeSmbiosTable(table)) {
        switch (s.type) {
        case 0:
            if (!inv.bios) inv.bios = SmbiosBios{s.string(0x04), s.string(0x05), s.string(0x08)};
            break;
        case 1:
            if (!inv.system) inv.system = SmbiosSystem{s.string(0x04), s.string(0x05), s.string(0x06), s.string(0x07)};
            break;
        case 2:
            inv.boards.push_back({s.string(0x04), s.string(0x05), s.string(0x06), s.string(0x07), s.string(0x08)});
            break;
        case 3: {
            SmbiosEnclosure e{s.string(0x04), s.string(0x06), s.string(0x07), s.string(0x08), std::nullopt};
            if (auto t = s.byte(0x05)) e.chassisType = static_cast<std::uint8_t>(*t & 0x7F);
            inv.enclosures.push_back(std::move(e));
            break;
        }
        case 9: {
            if (s.formatted.size() < 0x0C) break;
            SmbiosSlot slot;
            slot.designation = s.string(0x04);
            slot.slotType = s.byte(0x05).value_or(0);
            slot.currentUsage = s.byte(0x07).value_or(0);
            slot.slotId = s.word(0x09).value_or(0);
            inv.slots.push_back(std::move(slot));
            break;
        }
        case 17:
            if (s.formatted.size() >= 0x15) inv.memory.push_back(memoryDevice(s));
            break;
        default:
            break;
        }
    }
    return inv;
}

}  // namespace veltrix::linux_provider
