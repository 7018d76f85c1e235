// When two hosts are the same hardware. An enrolled host is bound to the
// identity it gave; a scan that a host uploads with another host's hardware
// is refused, so that one machine's key cannot write another's history.
#pragma once

#include <optional>
#include <string>

#include "core/machine_identity.h"

namespace veltrix::fleet {

// The identity as the hosts table keys it: the canonical UUID, serials as
// the store keys them, placeholders left out, because they identify nothing.
struct HostIdentity {
    std::optional<std::string> hostName, uuid, enclosureSerial, boardSerial, biosSerial;
    std::vector<std::string> macs;
};

HostIdentity hostIdentity(const MachineIdentity& machine);

// Two identities are one machine when both have a UUID and it is the same
// (in either byte order); without a UUID on both sides, when a serial number
// of the same kind is the same. Names and network addresses never decide:
// names are reused and adapters move between machines.
bool sameHardware(const HostIdentity& a, const HostIdentity& b);

}  // namespace veltrix::fleet
