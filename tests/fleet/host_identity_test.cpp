#include "fleet/host_identity.h"

#include <gtest/gtest.h>

namespace veltrix::fleet {
namespace {

TEST(HostIdentity, KeysAreCanonicalAndPlaceholdersIdentifyNothing) {
    MachineIdentity seen;
    seen.hostName = " pc1 ";
    seen.uuid = "{4c4c4544-0042-3510-8056-b4c04f4a3132}";
    seen.enclosureSerial = "  nrv-7731-0042 ";
    seen.boardSerial = "To be filled by O.E.M.";
    seen.biosSerial = "0000000";
    HostIdentity identity = hostIdentity(seen);
    EXPECT_EQ(identity.hostName, "pc1");
    EXPECT_EQ(identity.uuid, "4C4C4544-0042-3510-8056-B4C04F4A3132");
    EXPECT_EQ(identity.enclosureSerial, "NRV-7731-0042");
    EXPECT_EQ(identity.boardSerial, std::nullopt);
    EXPECT_EQ(identity.biosSerial, std::nullopt);
    seen.uuid = "00000000-0000-0000-0000-000000000000";
    EXPECT_EQ(hostIdentity(seen).uuid, std::nullopt);
}

TEST(HostIdentity, SameHardwareByUuidInEitherOrderElseBySerialOfOneKind) {
    MachineIdentity a;
    a.uuid = "00112233-4455-6677-8899-AABBCCDDEEFF";
    a.enclosureSerial = "SN1";
    MachineIdentity swapped;
    swapped.uuid = "33221100-5544-7766-8899-aabbccddeeff";
    EXPECT_TRUE(sameHardware(hostIdentity(a), hostIdentity(swapped)));

    // Two real UUIDs that differ are two machines, whatever their serials.
    MachineIdentity other = a;
    other.uuid = "00112233-4455-6677-8899-aabbccddee00";
    EXPECT_FALSE(sameHardware(hostIdentity(a), hostIdentity(other)));

    // Without a UUID on one side, a serial of the same kind decides.
    MachineIdentity serialOnly;
    serialOnly.enclosureSerial = " sn1";
    EXPECT_TRUE(sameHardware(hostIdentity(a), hostIdentity(serialOnly)));
    MachineIdentity boardOnly;
    boardOnly.boardSerial = "SN1";
    EXPECT_FALSE(sameHardware(hostIdentity(a), hostIdentity(boardOnly)));

    // Names, addresses and placeholders never make two machines one.
    MachineIdentity named;
    named.hostName = "pc1";
    named.macs = {"00:11:22:33:44:55"};
    named.uuid = "00000000-0000-0000-0000-000000000000";
    named.enclosureSerial = "To be filled by O.E.M.";
    EXPECT_FALSE(sameHardware(hostIdentity(named), hostIdentity(named)));
}

}  // namespace
}  // namespace veltrix::fleet
