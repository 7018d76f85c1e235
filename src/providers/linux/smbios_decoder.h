// Decoder for the firmware's SMBIOS structure table (the raw table the
// kernel exposes, without entry point). Only what the inventory needs:
// BIOS, system, base board, enclosure, system slots and memory devices.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrix::linux_provider {

struct SmbiosStructure {
    std::uint8_t type = 0;
    std::uint16_t handle = 0;
    std::string formatted;             // the formatted area, header included
    std::vector<std::string> strings;  // string set, 1-based in the table

    std::optional<std::uint8_t> byte(std::size_t offset) const;
    std::optional<std::uint16_t> word(std::size_t offset) const;
    std::optional<std::uint32_t> dword(std::size_t offset) const;
    // The string whose number sits at `offset`; nullopt for number 0, an
    // out-of-range number or a string of blanks only.
    std::optional<std::string> string(std::size_t offset) const;
};

// Splits the table into structures, stopping at the end-of-table marker or
// at the first structure that does not fit (a truncated or corrupt table
// yields what came before it).
std::vector<SmbiosStructure> decodeSmbiosTable(std::string_view table);

struct SmbiosBios {
    std::optional<std::string> vendor, version, releaseDate;
};
struct SmbiosSystem {
    std::optional<std::string> manufacturer, product, version, serial;
};
struct SmbiosBoard {
    std::optional<std::string> manufacturer, product, version, serial, assetTag;
};
struct SmbiosEnclosure {
    std::optional<std::string> manufacturer, version, serial, assetTag;
    std::optional<std::uint8_t> chassisType;
};
struct SmbiosSlot {
    std::optional<std::string> designation;
    std::uint8_t slotType = 0;
    std::uint8_t currentUsage = 0;  // 3 available, 4 in use
    std::uint16_t slotId = 0;
};
struct SmbiosMemoryDevice {
    std::optional<std::string> deviceLocator, bankLocator, manufacturer, serial, partNumber, assetTag;
    std::uint64_t sizeBytes = 0;  // 0: no module installed
    bool sizeKnown = true;
    std::uint32_t speed = 0;      // MT/s, 0 unknown
    std::uint8_t memoryType = 0;  // SMBIOS memory type code
    std::uint8_t formFactor = 0;
};

struct SmbiosInventory {
    std::optional<SmbiosBios> bios;
    std::optional<SmbiosSystem> system;
    std::vector<SmbiosBoard> boards;
    std::vector<SmbiosEnclosure> enclosures;
    std::vector<SmbiosSlot> slots;
    std::vector<SmbiosMemoryDevice> memory;  // every device, installed or not
};

SmbiosInventory readSmbiosInventory(std::string_view table);

}  // namespace veltrix::linux_provider
