#include "core/machine_identity.h"

#include <gtest/gtest.h>

namespace veltrix {
namespace {

// Every listed placeholder identifies nothing, in any letter case and with
// the padding firmware adds; real serials next to them do.
TEST(MachineIdentity, EveryPlaceholderSerialIdentifiesNothing) {
    for (std::string_view placeholder : PlaceholderSerials()) {
        std::string padded = "  " + std::string(placeholder) + " ";
        EXPECT_TRUE(IsPlaceholderSerial(placeholder)) << placeholder;
        EXPECT_TRUE(IsPlaceholderSerial(padded)) << placeholder;
        std::string lower(placeholder);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(IsPlaceholderSerial(lower)) << placeholder;
        EXPECT_FALSE(SerialKey(padded)) << placeholder;
    }
    for (std::string_view repeated : {"", "   ", "0", "00000000", "xxxxxxxxxxxx", "FFFFFFFF", "........"}) {
        EXPECT_TRUE(IsPlaceholderSerial(repeated)) << repeated;
    }
    for (std::string_view real : {"NRV-7731-0042", "PF2ABCDE", "5CG1234XYZ", "To be filled", "00000001"}) {
        EXPECT_FALSE(IsPlaceholderSerial(real)) << real;
    }
    EXPECT_EQ(SerialKey("  nrv-7731-0042 "), "NRV-7731-0042");
}

TEST(MachineIdentity, PlaceholderUuidsIdentifyNothingInEitherSpelling) {
    for (std::string_view placeholder :
         {"", "not a uuid", "00000000-0000-0000-0000-000000000000", "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF",
          "ffffffff-ffff-ffff-ffff-ffffffffffff", "03000200-0400-0500-0006-000700080009",
          "00020003-0004-0005-0006-000700080009", "{03000200-0400-0500-0006-000700080009}",
          "4C4C4544-0038-3510-8052-B3C04F", "4C4C4544-0038-3510-8052-B3C04F4D4A3G"}) {
        EXPECT_TRUE(IsPlaceholderUuid(placeholder)) << placeholder;
    }
    EXPECT_FALSE(IsPlaceholderUuid("4c4c4544-0038-3510-8052-b3c04f4d4a32"));
    EXPECT_EQ(CanonicalUuid("{4c4c4544-0038-3510-8052-b3c04f4d4a32}"), "4C4C4544-0038-3510-8052-B3C04F4D4A32");
    EXPECT_EQ(CanonicalUuid("4c4c454400383510 8052b3c04f4d4a32"), std::nullopt);
}

// Firmware that stores the first three fields little-endian shows the same
// machine as another spelling; swapping twice gives the original back.
TEST(MachineIdentity, ByteSwappedUuidTurnsTheFirstThreeFields) {
    EXPECT_EQ(ByteSwappedUuid("4C4C4544-0038-3510-8052-B3C04F4D4A32"), "44454C4C-3800-1035-8052-B3C04F4D4A32");
    EXPECT_EQ(ByteSwappedUuid(ByteSwappedUuid("4C4C4544-0038-3510-8052-B3C04F4D4A32")),
              "4C4C4544-0038-3510-8052-B3C04F4D4A32");
}

TEST(MachineIdentity, UsableIdentityKeepsRealValuesInCanonicalForm) {
    MachineIdentity seen;
    seen.hostName = " pc-0042 ";
    seen.uuid = "00000000-0000-0000-0000-000000000000";
    seen.enclosureSerial = "  NRV-7731-0042 ";
    seen.boardSerial = "Default string";
    seen.biosSerial = "NRV-7731-0042";
    seen.macs = {"8c-ec-4b-11-22-33", "8C:EC:4B:11:22:33", "00:00:00:00:00:00", "not a mac", "8cec4b112234"};
    MachineIdentity usable = UsableIdentity(seen);
    EXPECT_EQ(usable.hostName, "pc-0042");
    EXPECT_EQ(usable.uuid, std::nullopt);
    EXPECT_EQ(usable.enclosureSerial, "NRV-7731-0042");
    EXPECT_EQ(usable.boardSerial, std::nullopt);
    EXPECT_EQ(usable.biosSerial, "NRV-7731-0042");
    EXPECT_EQ(usable.macs, (std::vector<std::string>{"8C:EC:4B:11:22:33", "8C:EC:4B:11:22:34"}));
    EXPECT_TRUE(UsableIdentity(MachineIdentity{{}, "", "To be filled by O.E.M.", "None", "0", {}}).empty());
}

}  // namespace
}  // namespace veltrix
