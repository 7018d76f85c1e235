#include <gtest/gtest.h>

#include "providers/linux/apt_history.h"
#include "providers/linux/block_devices.h"
#include "providers/linux/dpkg_status.h"
#include "providers/linux/id_lists.h"
#include "providers/linux/software_registry.h"

using namespace veltrix::linux_provider;

TEST(IdsDatabase, VendorsDevicesAndClassesButNotSubsystems) {
    IdsDatabase ids("");
    ids.parse("# c\n8086  Intel Corporation\n\t1c3a  MEI Controller\n\t\t1028 04ad  OptiPlex\n"
              "10ec  Realtek\n\t8168  RTL8111\nC 02  Network controller\n\t00  Ethernet controller\n"
              "\t\t00  prog-if\nHID 01  not a vendor\n");
    EXPECT_EQ(ids.vendor(0x8086), std::optional<std::string>("Intel Corporation"));
    EXPECT_EQ(ids.device(0x8086, 0x1c3a), std::optional<std::string>("MEI Controller"));
    EXPECT_FALSE(ids.device(0x8086, 0x1028).has_value());
    EXPECT_EQ(ids.device(0x10ec, 0x8168), std::optional<std::string>("RTL8111"));
    EXPECT_EQ(ids.className(0x02), std::optional<std::string>("Network controller"));
    EXPECT_EQ(ids.className(0x02, 0x00), std::optional<std::string>("Ethernet controller"));
    EXPECT_FALSE(ids.vendor(0x1234).has_value());
}

TEST(IdsDatabase, MissingFileFindsNothing) {
    IdsDatabase ids("/nonexistent/pci.ids");
    EXPECT_FALSE(ids.vendor(0x8086).has_value());
}

TEST(DpkgStatus, OnlyInstalledPackagesAndTheNativeArchitecture) {
    auto packages = parseDpkgStatus(
        "Package: foo\nStatus: install ok installed\nArchitecture: i386\nVersion: 1\n"
        "Description: x\n Version: 99 (a continuation line)\n\n"
        "Package: gone\nStatus: deinstall ok config-files\nVersion: 2\n\n"
        "Package: dpkg\nStatus: install ok installed\nArchitecture: amd64\nVersion: 1.21\n");
    ASSERT_EQ(packages.size(), 2u);
    EXPECT_EQ(packages[0].name, "foo");
    EXPECT_EQ(packages[0].version, "1");
    EXPECT_EQ(nativeArchitecture(packages), "amd64");
}

TEST(AptHistory, EveryPackageOfEveryUpgradeLine) {
    auto upgrades = parseAptHistory(
        "Start-Date: 2024-02-10  08:00:00\nInstall: new:amd64 (1.0)\n"
        "Upgrade: git:amd64 (1:2.39.5-0+deb12u2, 1:2.39.5-0+deb12u3), libc6:i386 (2.36-9, 2.36-10)\n"
        "End-Date: 2024-02-10  08:01:00\n");
    ASSERT_EQ(upgrades.size(), 2u);
    EXPECT_EQ(upgrades[0].package, "git");
    EXPECT_EQ(upgrades[0].fromVersion, "1:2.39.5-0+deb12u2");
    EXPECT_EQ(upgrades[0].toVersion, "1:2.39.5-0+deb12u3");
    EXPECT_EQ(upgrades[0].date, "2024-02-10");
    EXPECT_EQ(upgrades[1].package, "libc6");
}

TEST(MountInfo, UnescapesMountPointsAndFindsTheFileSystem) {
    auto mounts = parseMountInfo("90 27 8:17 / /media/user/MY\\040STICK rw,nosuid shared:5 - vfat /dev/sdb1 rw\n"
                                 "broken line\n");
    ASSERT_EQ(mounts.size(), 1u);
    EXPECT_EQ(mounts[0].dev, "8:17");
    EXPECT_EQ(mounts[0].mountPoint, "/media/user/MY STICK");
    EXPECT_EQ(mounts[0].fsType, "vfat");
    EXPECT_EQ(mounts[0].source, "/dev/sdb1");
}

TEST(RegistryTree, PathsIgnoreCaseAndStrayBackslashes) {
    RegistryTree tree;
    tree.setValue("Software\\A\\Prog", "DisplayName", "Prog");
    tree.addKey("Software\\B");
    EXPECT_EQ(*tree.subkeys("software\\"), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(tree.value("SOFTWARE\\\\a\\prog\\", "displayname"), std::optional<std::string>("Prog"));
    EXPECT_FALSE(tree.value("Software\\A\\Prog", "DisplayVersion").has_value());
    EXPECT_FALSE(tree.subkeys("Software\\C").has_value());
}

TEST(DpkgStatus, BlankLinesWithSpacesEndAPackageAndFieldsAreTrimmed) {
    auto packages = parseDpkgStatus(
        "Package: a\r\nStatus: install ok installed\r\nVersion:  1.0 \r\n \r\n"
        "Package: b\nStatus: install ok installed\nDescription: x\n .\n Package: not-a-package\n");
    ASSERT_EQ(packages.size(), 2u);
    EXPECT_EQ(packages[0].name, "a");
    EXPECT_EQ(packages[0].version, "1.0");
    EXPECT_EQ(packages[1].name, "b");
    EXPECT_EQ(packages[1].version, "");
}

TEST(RegistryTree, NewKeysUnderExistingParentsKeepTheirWrittenNames) {
    RegistryTree tree;
    tree.addKey("Software\\Uninstall");
    tree.setValue("software\\UNINSTALL\\\\MyProg\\", "DisplayName", "x");
    tree.setValues("Software\\Uninstall\\myprog", {{"DisplayVersion", "0"}, {"displayversion", "1"}});
    tree.addKey("Software\\Uninstall\\Other\\Deep");
    EXPECT_EQ(*tree.subkeys("Software\\Uninstall"), (std::vector<std::string>{"MyProg", "Other"}));
    EXPECT_EQ(*tree.subkeys("Software\\Uninstall\\Other"), (std::vector<std::string>{"Deep"}));
    EXPECT_EQ(tree.value("Software\\Uninstall\\MYPROG", "displayversion"), std::optional<std::string>("1"));
    EXPECT_EQ(tree.value("Software\\Uninstall\\MyProg", "DisplayName"), std::optional<std::string>("x"));
}

TEST(DpkgStatus, EveryPackageOfALongFileWhereverItsLinesFall) {
    // Packages of every length, so that each kind of line starts at every
    // offset of the blocks the file is looked through in: fields that share a
    // kept field's first letters, continuation lines that look like fields or
    // open with two blanks, and packages ended by a line of blanks alone.
    std::string text;
    std::vector<std::string> expected;
    for (int p = 0; p < 400; ++p) {
        const std::string eol = p % 5 == 3 ? "\r\n" : "\n";
        const std::string name = "pkg" + std::to_string(p) + std::string(p % 7, 'x');
        const bool installed = p % 6 != 4;
        text += "Package: " + name + eol;
        text += "Priority: optional" + eol + "Pre-Depends: libc6" + eol + "Section: misc" + eol;
        text += std::string("Status: install ok ") + (installed ? "installed" : "config-files") + eol;
        text += "Source: src" + std::string(p % 3, 's') + eol;
        if (p % 2) text += "Architecture: amd64" + eol;
        text += "Version: " + std::to_string(p) + ".0" + eol;
        text += "Description: text" + eol + " Package: not-" + name + eol + "  Version: 0 (two blanks, then text)" + eol;
        text += " ." + eol + " Status: install ok installed" + eol;
        if (installed) expected.push_back(name + "=" + std::to_string(p) + ".0");
        text += p % 4 == 1 ? std::string(1 + p % 3, ' ') + eol : p % 4 == 2 ? "\t" + eol : eol;
    }
    std::vector<std::string> got;
    for (const InstalledPackage& package : parseDpkgStatus(text)) got.push_back(std::string(package.name) + "=" + std::string(package.version));
    EXPECT_EQ(got, expected);
    // The same file without its last line end, and cut in the last package.
    text.erase(text.find_last_not_of("\r\n \t") + 1);
    EXPECT_EQ(parseDpkgStatus(text).size(), expected.size());
}
