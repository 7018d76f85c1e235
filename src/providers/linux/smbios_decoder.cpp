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

// Offsets of the fields we read inside a structure's formatted area, named
// after the SMBIOS reference; the comment gives the version that added each
// field (a structure from older firmware is shorter and simply lacks it).
namespace bios {                                   // type 0
constexpr std::size_t kVendor = 0x04;              // 2.0+, string
constexpr std::size_t kVersion = 0x05;             // 2.0+, string
constexpr std::size_t kReleaseDate = 0x08;         // 2.0+, string
}  // namespace bios
namespace system_info {                            // type 1
constexpr std::size_t kManufacturer = 0x04;        // 2.0+, string
constexpr std::size_t kProductName = 0x05;         // 2.0+, string
constexpr std::size_t kVersion = 0x06;             // 2.0+, string
constexpr std::size_t kSerialNumber = 0x07;        // 2.0+, string
}  // namespace system_info
namespace board {                                  // type 2
constexpr std::size_t kManufacturer = 0x04;        // string
constexpr std::size_t kProduct = 0x05;             // string
constexpr std::size_t kVersion = 0x06;             // string
constexpr std::size_t kSerialNumber = 0x07;        // string
constexpr std::size_t kAssetTag = 0x08;            // string
}  // namespace board
namespace enclosure {                              // type 3
constexpr std::size_t kManufacturer = 0x04;        // 2.0+, string
constexpr std::size_t kType = 0x05;                // 2.0+, bit 7: chassis lock
constexpr std::size_t kVersion = 0x06;             // 2.0+, string
constexpr std::size_t kSerialNumber = 0x07;        // 2.0+, string
constexpr std::size_t kAssetTag = 0x08;            // 2.0+, string
}  // namespace enclosure
namespace system_slot {                                 // type 9
constexpr std::size_t kDesignation = 0x04;         // 2.0+, string
constexpr std::size_t kType = 0x05;                // 2.0+
constexpr std::size_t kCurrentUsage = 0x07;        // 2.0+
constexpr std::size_t kId = 0x09;                  // 2.0+, word
constexpr std::size_t kMinimumLength = 0x0C;       // the 2.0 structure ends here
}  // namespace system_slot
namespace memory_device {                          // type 17
constexpr std::size_t kSize = 0x0C;                // 2.1+, word: 0xFFFF unknown, 0x7FFF see kExtendedSize
constexpr std::size_t kFormFactor = 0x0E;          // 2.1+
constexpr std::size_t kDeviceLocator = 0x10;       // 2.1+, string
constexpr std::size_t kBankLocator = 0x11;         // 2.1+, string
constexpr std::size_t kMemoryType = 0x12;          // 2.1+
constexpr std::size_t kSpeed = 0x15;               // 2.3+, word, MT/s; 0xFFFF see kExtendedSpeed
constexpr std::size_t kMinimumLength = 0x15;       // the 2.1 structure ends here
constexpr std::size_t kManufacturer = 0x17;        // 2.3+, string
constexpr std::size_t kSerialNumber = 0x18;        // 2.3+, string
constexpr std::size_t kAssetTag = 0x19;            // 2.3+, string
constexpr std::size_t kPartNumber = 0x1A;          // 2.3+, string
constexpr std::size_t kExtendedSize = 0x1C;        // 2.7+, dword, MB
constexpr std::size_t kExtendedSpeed = 0x54;       // 3.3+, dword, MT/s
}  // namespace memory_device

SmbiosMemoryDevice memoryDevice(const SmbiosStructure& s) {
    using namespace memory_device;
    SmbiosMemoryDevice m;
    m.deviceLocator = s.string(kDeviceLocator);
    m.bankLocator = s.string(kBankLocator);
    m.memoryType = s.byte(kMemoryType).value_or(0);
    m.formFactor = s.byte(kFormFactor).value_or(0);
    m.manufacturer = s.string(kManufacturer);
    m.serial = s.string(kSerialNumber);
    m.assetTag = s.string(kAssetTag);
    m.partNumber = s.string(kPartNumber);
    std::uint16_t size = s.word(kSize).value_or(0xFFFF);
    if (size == 0xFFFF) {
        m.sizeKnown = false;
    } else if (size == 0x7FFF) {
        // Larger than 32 GB - 1 MB: the extended field holds megabytes.
        if (auto ext = s.dword(kExtendedSize)) m.sizeBytes = static_cast<std::uint64_t>(*ext & 0x7FFFFFFFu) << 20;
        else m.sizeKnown = false;
    } else if (size & 0x8000) {
        m.sizeBytes = static_cast<std::uint64_t>(size & 0x7FFF) << 10;
    } else {
        m.sizeBytes = static_cast<std::uint64_t>(size) << 20;
    }
    std::uint16_t speed = s.word(kSpeed).value_or(0);
    if (speed == 0xFFFF) m.speed = s.dword(kExtendedSpeed).value_or(0);
    else m.speed = speed;
    return m;
}
}  // namespace

SmbiosInventory readSmbiosInventory(std::string_view table) {
    SmbiosInventory inv;
    for (const SmbiosStructure& s : decodeSmbiosTable(table)) {
        switch (s.type) {
        case 0:
            if (!inv.bios) inv.bios = SmbiosBios{s.string(bios::kVendor), s.string(bios::kVersion),
                                                  s.string(bios::kReleaseDate)};
            break;
        case 1:
            if (!inv.system) inv.system = SmbiosSystem{s.string(system_info::kManufacturer), s.string(system_info::kProductName),
                                          s.string(system_info::kVersion), s.string(system_info::kSerialNumber)};
            break;
        case 2:
            inv.boards.push_back({s.string(board::kManufacturer), s.string(board::kProduct), s.string(board::kVersion),
                                  s.string(board::kSerialNumber), s.string(board::kAssetTag)});
            break;
        case 3: {
            SmbiosEnclosure e{s.string(enclosure::kManufacturer), s.string(enclosure::kVersion),
                              s.string(enclosure::kSerialNumber), s.string(enclosure::kAssetTag), std::nullopt};
            if (auto t = s.byte(enclosure::kType)) e.chassisType = static_cast<std::uint8_t>(*t & 0x7F);
            inv.enclosures.push_back(std::move(e));
            break;
        }
        case 9: {
            if (s.formatted.size() < system_slot::kMinimumLength) break;
            SmbiosSlot slot;
            slot.designation = s.string(system_slot::kDesignation);
            slot.slotType = s.byte(system_slot::kType).value_or(0);
            slot.currentUsage = s.byte(system_slot::kCurrentUsage).value_or(0);
            slot.slotId = s.word(system_slot::kId).value_or(0);
            inv.slots.push_back(std::move(slot));
            break;
        }
        case 17:
            if (s.formatted.size() >= memory_device::kMinimumLength) inv.memory.push_back(memoryDevice(s));
            break;
        default:
            break;
        }
    }
    return inv;
}

}  // namespace veltrix::linux_provider
