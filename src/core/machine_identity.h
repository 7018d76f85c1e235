// What identifies a computer as one scan saw it, and which of those values
// identify nothing: firmware and virtualisers fill unset fields with
// placeholders that thousands of machines share.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrix {

struct MachineIdentity {
    std::optional<std::string> hostName;
    std::optional<std::string> uuid;  // SMBIOS system UUID, as the firmware spells it
    std::optional<std::string> enclosureSerial;
    std::optional<std::string> boardSerial;
    std::optional<std::string> biosSerial;
    std::vector<std::string> macs;  // physical network adapters, "8C:EC:4B:11:22:33"
    bool operator==(const MachineIdentity&) const = default;

    bool empty() const {
        return !hostName && !uuid && !enclosureSerial && !boardSerial && !biosSerial && macs.empty();
    }
};

// Serial numbers that firmware writes when the maker set none, compared
// without letter case and surrounding spaces. The one list the store, the
// snapshot recorder and the tests read.
const std::vector<std::string_view>& PlaceholderSerials();

// True for a serial that identifies nothing: empty, a listed placeholder, or
// one character repeated ("0000000", "xxxxxxxx").
bool IsPlaceholderSerial(std::string_view serial);

// True for a UUID that identifies nothing: empty, not a UUID at all, all
// zeros, all F, or the well-known value that many boards ship with.
bool IsPlaceholderUuid(std::string_view uuid);

// "8-4-4-4-12" hex digits in upper case, or nothing when the text is no UUID.
std::optional<std::string> CanonicalUuid(std::string_view uuid);

// The same UUID with its first three fields byte-swapped: some firmware and
// virtualisers store them little-endian, so one machine shows both spellings.
// Expects the canonical form.
std::string ByteSwappedUuid(std::string_view canonical);

// A serial as the store keys it: surrounding spaces off, upper case; nothing
// when it is a placeholder.
std::optional<std::string> SerialKey(std::string_view serial);

// A MAC address as "8C:EC:4B:11:22:33" from any of the usual spellings
// ("8c-ec-4b-11-22-33", "8cec4b112233"); nothing when it is no address or
// one that identifies nothing (all zeros, broadcast).
std::optional<std::string> CanonicalMac(std::string_view mac);

// The identity with every placeholder dropped and every value in canonical
// form: what may be written into a snapshot or matched in the store.
MachineIdentity UsableIdentity(const MachineIdentity& seen);

// Why two scans cannot be of one computer: their SMBIOS UUIDs differ (in
// either byte order), or the first serial number both show (enclosure, else
// board, else BIOS) differs. Nothing when they may be one machine, also when
// either scan shows too little to tell.
std::optional<std::string> WhyDifferentMachines(const MachineIdentity& before, const MachineIdentity& after);

}  // namespace veltrix
