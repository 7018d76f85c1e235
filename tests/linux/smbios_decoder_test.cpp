#include "providers/linux/smbios_decoder.h"

#include <gtest/gtest.h>

#include <initializer_list>

using namespace veltrix::linux_provider;

namespace {
// One structure: header, formatted body, string set.
std::string structure(std::uint8_t type, std::string body, std::initializer_list<const char*> strings) {
    std::string s;
    s += static_cast<char>(type);
    s += static_cast<char>(4 + body.size());
    s += '\x01';
    s += '\x00';
    s += body;
    if (strings.size() == 0) return s + std::string("\0\0", 2);
    for (const char* t : strings) s += std::string(t) + '\0';
    return s + '\0';
}

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

// A memory device with the given size word, speed and optional extended size.
std::string memory(int sizeWord, int speed, std::uint32_t extendedMb = 0) {
    std::string body = bytes({0x00, 0x10, 0xFE, 0xFF, 64, 0, 64, 0, sizeWord & 0xFF, sizeWord >> 8, 0x0D, 0, 1, 2,
                              0x1A, 0x80, 0x00, speed & 0xFF, speed >> 8, 3, 0, 0, 4, 2});
    body += bytes({static_cast<int>(extendedMb & 0xFF), static_cast<int>((extendedMb >> 8) & 0xFF),
                   static_cast<int>((extendedMb >> 16) & 0xFF), static_cast<int>(extendedMb >> 24), 0, 0});
    return structure(17, body, {"DIMM 0", "BANK 0", "Maker", "PN-1"});
}
}  // namespace

TEST(SmbiosDecoder, ReadsStringsAndSizesOfMemoryDevices) {
    std::string table = memory(8192, 3200) + memory(0x8000 | 512, 0) + memory(0x7FFF, 2666, 65536) + memory(0, 0) +
                        structure(127, "", {});
    SmbiosInventory inv = readSmbiosInventory(table);
    ASSERT_EQ(inv.memory.size(), 4u);
    EXPECT_EQ(inv.memory[0].sizeBytes, 8192ull << 20);
    EXPECT_EQ(inv.memory[0].speed, 3200u);
    EXPECT_EQ(inv.memory[0].deviceLocator, std::optional<std::string>("DIMM 0"));
    EXPECT_EQ(inv.memory[0].bankLocator, std::optional<std::string>("BANK 0"));
    EXPECT_EQ(inv.memory[0].manufacturer, std::optional<std::string>("Maker"));
    EXPECT_EQ(inv.memory[0].partNumber, std::optional<std::string>("PN-1"));
    EXPECT_FALSE(inv.memory[0].serial.has_value());  // string number 0
    EXPECT_EQ(inv.memory[1].sizeBytes, 512ull << 10);  // kilobyte granularity
    EXPECT_EQ(inv.memory[2].sizeBytes, 65536ull << 20);  // extended size, 64 GB
    EXPECT_EQ(inv.memory[3].sizeBytes, 0u);
    EXPECT_TRUE(inv.memory[3].sizeKnown);
}

TEST(SmbiosDecoder, SlotsBiosAndEmptyStringSets) {
    std::string table = structure(0, bytes({1, 2, 0, 0xF0, 3, 0}), {"Vendor", "V1.0", "01/02/2020"}) +
                        structure(9, bytes({1, 0xA5, 0x0D, 4, 4, 7, 0, 0}), {"SLOT1"}) +
                        structure(9, bytes({0, 0xA5, 0x0D, 3, 4, 8, 0, 0}), {}) + structure(127, "", {});
    SmbiosInventory inv = readSmbiosInventory(table);
    ASSERT_TRUE(inv.bios.has_value());
    EXPECT_EQ(inv.bios->vendor, std::optional<std::string>("Vendor"));
    EXPECT_EQ(inv.bios->releaseDate, std::optional<std::string>("01/02/2020"));
    ASSERT_EQ(inv.slots.size(), 2u);
    EXPECT_EQ(inv.slots[0].designation, std::optional<std::string>("SLOT1"));
    EXPECT_EQ(inv.slots[0].currentUsage, 4);
    EXPECT_EQ(inv.slots[0].slotId, 7);
    EXPECT_FALSE(inv.slots[1].designation.has_value());
    EXPECT_EQ(inv.slots[1].currentUsage, 3);
}

TEST(SmbiosDecoder, CorruptTablesYieldWhatCameBefore) {
    std::string good = structure(9, bytes({1, 0xA5, 0x0D, 4, 4, 7, 0, 0}), {"SLOT1"});
    // A length running past the end, a length below the header size, and a
    // string set without its terminating pair.
    std::string pastEnd = good + bytes({9, 60, 0, 0, 1, 2});
    std::string tooShort = good + bytes({9, 2, 0, 0}) + good;
    std::string unterminated = good + structure(9, bytes({1, 0xA5, 0x0D, 4, 4, 7, 0, 0}), {}).substr(0, 12) + "AB";
    EXPECT_EQ(readSmbiosInventory(pastEnd).slots.size(), 1u);
    EXPECT_EQ(readSmbiosInventory(tooShort).slots.size(), 1u);
    EXPECT_EQ(readSmbiosInventory(unterminated).slots.size(), 1u);
    EXPECT_TRUE(readSmbiosInventory("").memory.empty());
    // A string number beyond the set is no string, not a crash.
    std::string badIndex = structure(9, bytes({5, 0xA5, 0x0D, 4, 4, 7, 0, 0}), {"ONLY"});
    ASSERT_EQ(readSmbiosInventory(badIndex).slots.size(), 1u);
    EXPECT_FALSE(readSmbiosInventory(badIndex).slots[0].designation.has_value());
}
