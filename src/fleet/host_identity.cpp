#include "fleet/host_identity.h"

namespace veltrix::fleet {
namespace {

std::optional<std::string> serialKey(const std::optional<std::string>& serial) {
    return serial ? SerialKey(*serial) : std::nullopt;
}

}  // namespace

HostIdentity hostIdentity(const MachineIdentity& machine) {
    const MachineIdentity usable = UsableIdentity(machine);
    HostIdentity identity;
    identity.hostName = usable.hostName;
    identity.uuid = usable.uuid;
    identity.enclosureSerial = serialKey(usable.enclosureSerial);
    identity.boardSerial = serialKey(usable.boardSerial);
    identity.biosSerial = serialKey(usable.biosSerial);
    identity.macs = usable.macs;
    return identity;
}

bool sameHardware(const HostIdentity& a, const HostIdentity& b) {
    if (a.uuid && b.uuid) return *a.uuid == *b.uuid || *a.uuid == ByteSwappedUuid(*b.uuid);
    auto same = [](const std::optional<std::string>& x, const std::optional<std::string>& y) {
        return x && y && *x == *y;
    };
    return same(a.enclosureSerial, b.enclosureSerial) || same(a.boardSerial, b.boardSerial) ||
           same(a.biosSerial, b.biosSerial);
}

}  // namespace veltrix::fleet
