// The id lists are indexed by heading and each vendor's lines are read on
// first use, so these cases check where one section ends and the next
// begins.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "providers/linux/id_lists.h"

using namespace veltrix::linux_provider;

namespace {
std::optional<std::string> some(const char* text) { return std::string(text); }
}  // namespace

TEST(IdsDatabaseSections, DevicesAfterSubsystemsCommentsAndBlankLines) {
    IdsDatabase ids("");
    ids.parse("1000  First\n\t0001  One\n\t\t1000 0002  Subsystem of one\n# a comment\n\n"
              "\t0002  Two\n\t0003\n2000  Second\n\t0004  Four\n");
    EXPECT_EQ(ids.device(0x1000, 0x0001), some("One"));
    EXPECT_EQ(ids.device(0x1000, 0x0002), some("Two"));  // after a subsystem, comment and blank line
    EXPECT_FALSE(ids.device(0x1000, 0x0003).has_value());  // no name
    EXPECT_FALSE(ids.device(0x1000, 0x0004).has_value());  // belongs to the next vendor
    EXPECT_FALSE(ids.device(0x2000, 0x0001).has_value());
    EXPECT_EQ(ids.device(0x2000, 0x0004), some("Four"));
}

TEST(IdsDatabaseSections, LastVendorWithoutNewlineAndWindowsLineEnds) {
    IdsDatabase ids("");
    ids.parse("abcd  Lower Case Hex\r\n\tBEEF  Mixed\r\nffff  Last  \n\t0001  Final device");
    EXPECT_EQ(ids.vendor(0xABCD), some("Lower Case Hex"));
    EXPECT_EQ(ids.device(0xabcd, 0xbeef), some("Mixed"));
    EXPECT_EQ(ids.vendor(0xFFFF), some("Last"));
    EXPECT_EQ(ids.device(0xffff, 0x0001), some("Final device"));
}

TEST(IdsDatabaseSections, OtherSectionsEndAVendorAndRepeatedHeadingsMerge) {
    IdsDatabase ids("");
    ids.parse("1234  Old name\n\t0001  Kept\n\t0002  Replaced\n"
              "HID 01  Not a vendor\n\t0003  Belongs to HID\n"
              "C 0c  Serial bus\n\t03  USB\n\t\t30  XHCI\n\t05  SMBus\n"
              "1234  New name\n\t0002  Newer\n");
    EXPECT_EQ(ids.vendor(0x1234), some("New name"));
    EXPECT_EQ(ids.device(0x1234, 0x0001), some("Kept"));
    EXPECT_EQ(ids.device(0x1234, 0x0002), some("Newer"));
    EXPECT_FALSE(ids.device(0x1234, 0x0003).has_value());
    EXPECT_EQ(ids.className(0x0c), some("Serial bus"));
    EXPECT_EQ(ids.className(0x0c, 0x03), some("USB"));
    EXPECT_EQ(ids.className(0x0c, 0x05), some("SMBus"));  // after a programming interface
    EXPECT_FALSE(ids.className(0x0c, 0x30).has_value());
    EXPECT_FALSE(ids.className(0x0d).has_value());
    // Asking again is answered from what the first lookup parsed.
    EXPECT_EQ(ids.device(0x1234, 0x0002), some("Newer"));
}

TEST(IdsDatabaseSections, ReadsTheFileOnFirstLookup) {
    auto path = std::filesystem::temp_directory_path() / "veltrix_ids_database_test.ids";
    {
        std::ofstream(path) << "# list\n8086  Intel Corporation\n\t1c3a  MEI Controller\n";
    }
    IdsDatabase ids(path.string());
    EXPECT_EQ(ids.device(0x8086, 0x1c3a), some("MEI Controller"));
    EXPECT_EQ(ids.vendor(0x8086), some("Intel Corporation"));
    std::filesystem::remove(path);
}

TEST(IdsDatabaseSections, AHeadingWithoutANameIsNoVendorButEndsTheOneBefore) {
    IdsDatabase ids("");
    ids.parse("1000  First\n\t0001  One\n1234  \r\n\t0002  Two\n1235\t \n\t0003  Three\nC 03 \nC 04  Multimedia\n");
    EXPECT_EQ(ids.device(0x1000, 0x0001), some("One"));
    EXPECT_FALSE(ids.device(0x1000, 0x0002).has_value());
    EXPECT_FALSE(ids.vendor(0x1234).has_value());
    EXPECT_FALSE(ids.device(0x1234, 0x0002).has_value());
    EXPECT_FALSE(ids.vendor(0x1235).has_value());
    EXPECT_FALSE(ids.className(0x03).has_value());
    EXPECT_EQ(ids.className(0x04), some("Multimedia"));
}
