#include "fleet/host_identity.h"

#include <gtest/gtest.h>

namespace veltrix::fleet {
namespace {

TEST(HostIdentity, UuidsAreCheckedAndPlaceholdersIdentifyNothing) {
    EXPECT_EQ(normalisedUuid(" 4C4C4544-0042-3510-8056-B4C04F4A3132 "), "4c4c4544-0042-3510-8056-b4c04f4a3132");
    EXPECT_EQ(normalisedUuid("{4C4C4544-0042-3510-8056-B4C04F4A3132}"), "4c4c4544-0042-3510-8056-b4c04f4a3132");
    EXPECT_EQ(normalisedUuid("00000000-0000-0000-0000-000000000000"), std::nullopt);
    EXPECT_EQ(normalisedUuid("FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF"), std::nullopt);
    EXPECT_EQ(normalisedUuid("4C4C4544-0042-3510-8056-B4C04F4A313"), std::nullopt);
    EXPECT_EQ(normalisedUuid("4C4C4544X0042-3510-8056-B4C04F4A3132"), std::nullopt);
    EXPECT_EQ(normalisedUuid("4C4C4544-0042-3510-8056-B4C04F4A313G"), std::nullopt);
}

TEST(HostIdentity, SwappedUuidReversesTheFirstThreeFields) {
    EXPECT_EQ(swappedUuid("00112233-4455-6677-8899-aabbccddeeff"), "33221100-5544-7766-8899-aabbccddeeff");
    EXPECT_EQ(swappedUuid(swappedUuid("00112233-4455-6677-8899-aabbccddeeff")),
              "00112233-4455-6677-8899-aabbccddeeff");
}

TEST(HostIdentity, SerialsAreTrimmedFoldedAndPlaceholdersDropped) {
    EXPECT_EQ(normalisedSerial("  nrv-7731-0042 "), "NRV-7731-0042");
    for (const char* placeholder : {"To be filled by O.E.M.", "Default string", "System Serial Number", "0000000",
                                    "xxxxxxxx", "N/A", "  ", "", "Not Specified", "123456789"}) {
        EXPECT_EQ(normalisedSerial(placeholder), std::nullopt) << placeholder;
    }
    EXPECT_EQ(normalisedSerial("0000001"), "0000001");
}

TEST(HostIdentity, SameHardwareByUuidInEitherOrderElseBySerialOfOneKind) {
    data::MachineIdentity a;
    a.uuid = "00112233-4455-6677-8899-AABBCCDDEEFF";
    a.enclosureSerial = "SN1";
    data::MachineIdentity swapped;
    swapped.uuid = "33221100-5544-7766-8899-aabbccddeeff";
    EXPECT_TRUE(sameHardware(normalisedIdentity(a), normalisedIdentity(swapped)));

    // Two real UUIDs that differ are two machines, whatever their serials.
    data::MachineIdentity other = a;
    other.uuid = "00112233-4455-6677-8899-aabbccddee00";
    EXPECT_FALSE(sameHardware(normalisedIdentity(a), normalisedIdentity(other)));

    // Without a UUID on one side, a serial of the same kind decides.
    data::MachineIdentity serialOnly;
    serialOnly.enclosureSerial = " sn1";
    EXPECT_TRUE(sameHardware(normalisedIdentity(a), normalisedIdentity(serialOnly)));
    data::MachineIdentity boardOnly;
    boardOnly.boardSerial = "SN1";
    EXPECT_FALSE(sameHardware(normalisedIdentity(a), normalisedIdentity(boardOnly)));

    // Names, addresses and placeholders never make two machines one.
    data::MachineIdentity named;
    named.hostName = "pc1";
    named.macs = {"00:11:22:33:44:55"};
    named.uuid = "00000000-0000-0000-0000-000000000000";
    named.enclosureSerial = "To be filled by O.E.M.";
    data::MachineIdentity namedToo = named;
    EXPECT_FALSE(sameHardware(normalisedIdentity(named), normalisedIdentity(namedToo)));
}

}  // namespace
}  // namespace veltrix::fleet
