// When two hosts are the same hardware. An enrolled host is bound to the
// identity it gave; a scan that a host uploads with another host's hardware
// is refused, so that one machine's key cannot write another's history.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/machine_identity.h"

namespace veltrix::fleet {

// The identity as the hosts table keeps it: UUIDs in lower case, serials
// trimmed and in upper case, placeholders ("To be filled by O.E.M.", all
// zeros) left out, because they identify nothing.
struct HostIdentity {
    std::optional<std::string> hostName, uuid, enclosureSerial, boardSerial, biosSerial;
    std::vector<std::string> macs;
};

HostIdentity normalisedIdentity(const data::MachineIdentity& machine);

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in lower case; nullopt for anything
// else and for the all-zero and all-F placeholders.
std::optional<std::string> normalisedUuid(std::string_view text);
// The same UUID with its first three fields byte-swapped, as firmware that
// stores it little-endian reports it.
std::string swappedUuid(const std::string& uuid);
std::optional<std::string> normalisedSerial(std::string_view text);

// Two identities are one machine when both have a UUID and it is the same
// (in either byte order); without a UUID on both sides, when a serial number
// of the same kind is the same. Names and network addresses never decide:
// names are reused and adapters move between machines.
bool sameHardware(const HostIdentity& a, const HostIdentity& b);

}  // namespace veltrix::fleet
