// Whole-file reads: the size the file system reports is only a hint.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "providers/linux/mapped_file.h"
#include "providers/linux/id_lists.h"
#include "providers/linux/machine_data.h"
#include "providers/linux/system_tree.h"
#include "support/temp_folder.h"

using namespace veltrix::linux_provider;

TEST(ReadRegularFile, WholeContentWhateverTheReportedSize) {
    const auto path = std::filesystem::temp_directory_path() / "veltrix_file_reading_test.txt";
    std::string big;
    for (int i = 0; big.size() < 200000; ++i) big += "line " + std::to_string(i) + "\n";
    for (const std::string& content : {std::string(), std::string("x"), std::string(4096, 'a'), std::string(65536, 'b'),
                                        std::string(65537, 'c'), big}) {
        { std::ofstream(path, std::ios::binary) << content; }
        auto read = readRegularFile(path.string());
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(*read, content);
    }
    std::filesystem::remove(path);
    // procfs reports size 0 for files that have content.
    auto status = readRegularFile("/proc/self/status");
    ASSERT_TRUE(status.has_value());
    EXPECT_NE(status->find("Name:"), std::string::npos);
    EXPECT_FALSE(readRegularFile("/dev/null").has_value());  // not a regular file
    EXPECT_FALSE(readRegularFile("/nonexistent/file").has_value());
}

TEST(MappedFile, TextOfRegularFilesOnly) {
    const auto path = std::filesystem::temp_directory_path() / "veltrix_mapped_file_test.ids";
    { std::ofstream(path, std::ios::binary) << ""; }
    auto empty = MappedFile::open(path.string());
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->text().empty());
    IdsDatabase none(path.string());
    EXPECT_FALSE(none.vendor(0x8086).has_value());

    { std::ofstream(path, std::ios::binary) << "8086  Intel Corporation\n\t1c3a  MEI Controller"; }
    auto mapped = MappedFile::open(path.string());
    ASSERT_TRUE(mapped.has_value());
    MappedFile moved = std::move(*mapped);
    EXPECT_TRUE(mapped->text().empty());
    EXPECT_EQ(moved.text(), "8086  Intel Corporation\n\t1c3a  MEI Controller");
    IdsDatabase ids(path.string());
    EXPECT_EQ(ids.device(0x8086, 0x1c3a), std::optional<std::string>("MEI Controller"));
    std::filesystem::remove(path);
    // Still answered after the file is gone: the mapping holds it.
    EXPECT_EQ(ids.vendor(0x8086), std::optional<std::string>("Intel Corporation"));

    EXPECT_FALSE(MappedFile::open("/dev/null").has_value());
    EXPECT_FALSE(MappedFile::open("/nonexistent/file").has_value());
    EXPECT_FALSE(MappedFile::open(std::filesystem::temp_directory_path().string()).has_value());
}

TEST(SystemTree, ResolvesLinksInsideTheTree) {
    veltrix::test::TempFolder tree;
    namespace fs = std::filesystem;
    fs::create_directories(tree / "sys/devices/pci0000:00/0000:00:01.0/net/eth0");
    fs::create_directories(tree / "sys/bus/pci/devices");
    fs::create_directories(tree / "sys/class/net");
    fs::create_symlink("../../../devices/pci0000:00/0000:00:01.0", tree / "sys/bus/pci/devices/0000:00:01.0");
    // Absolute targets and a ".." above the top stay in the tree, as in a
    // root of its own.
    fs::create_symlink("/sys/devices/pci0000:00/0000:00:01.0/net/eth0", tree / "sys/class/net/eth0");
    fs::create_symlink("../..", tree / "sys/devices/pci0000:00/0000:00:01.0/net/eth0/device");
    fs::create_symlink("../../../../../../../../sys", tree / "sys/devices/up");
    fs::create_symlink("loop-b", tree / "sys/loop-a");
    fs::create_symlink("loop-a", tree / "sys/loop-b");

    SystemTree files(tree.str());
    for (int round = 0; round < 2; ++round) {  // the second from what the first learnt
        EXPECT_EQ(files.resolve("/sys/bus/pci/devices/0000:00:01.0"), "/sys/devices/pci0000:00/0000:00:01.0");
        EXPECT_EQ(files.resolve("/sys/class/net/eth0/device"), "/sys/devices/pci0000:00/0000:00:01.0");
        EXPECT_EQ(files.resolve("/sys/class/net/eth0/device/../."), "/sys/devices/pci0000:00");
        EXPECT_EQ(files.resolve("/sys/devices/up/class"), "/sys/class");
        EXPECT_EQ(files.resolve("//sys///bus/"), "/sys/bus");
        EXPECT_EQ(files.resolve("/"), "/");
        EXPECT_FALSE(files.resolve("/sys/class/net/eth1").has_value());
        EXPECT_FALSE(files.resolve("/sys/class/net/eth0/device/missing").has_value());
        EXPECT_FALSE(files.resolve("/sys/loop-a").has_value());
        EXPECT_EQ(files.linkName("/sys/class/net/eth0"), "eth0");
        EXPECT_FALSE(files.linkName("/sys/class/net").has_value());  // no link
        EXPECT_FALSE(files.linkName("/sys/class/net/eth1").has_value());  // missing
    }
    // Every path asked about counts as read, once, whether a link or not:
    // a plain reader of the same input would read it too.
    const std::vector<std::string> links = files.linksRead();
    const std::set<std::string> distinct(links.begin(), links.end());
    EXPECT_EQ(distinct.size(), links.size());
    for (const char* path : {"/sys/class/net/eth0", "/sys/class/net", "/sys/class/net/eth1", "/sys/loop-b"})
        EXPECT_EQ(distinct.count(tree.str() + path), 1u) << path;
}

// A captured system's links with absolute targets name files of the
// capture: followed by this machine they would read this machine's files
// into the captured system's report.
TEST(SystemTree, AbsoluteLinksOfACaptureStayInsideIt) {
    veltrix::test::TempFolder tree;
    namespace fs = std::filesystem;
    for (const char* dir : {"etc", "data/drivers/e1000e", "var/lib/usbutils", "usr/share/misc"})
        fs::create_directories(tree / dir);
    std::ofstream(tree / "etc/veltrix-captured") << "captured";
    fs::create_symlink("/etc", tree / "etc-link");
    fs::create_symlink("/data", tree / "data-link");
    fs::create_symlink("drivers/e1000e", tree / "data/driver");
    std::ofstream(tree / "var/lib/usbutils/usb.ids") << "1d6b  Linux Foundation\n";
    fs::create_symlink("/var/lib/usbutils/usb.ids", tree / "usr/share/misc/usb.ids");

    SystemTree files(tree.str());
    EXPECT_EQ(files.read("/etc-link/veltrix-captured"), "captured");
    EXPECT_TRUE(files.exists("/etc-link/veltrix-captured"));
    EXPECT_EQ(files.list("/etc-link"), std::vector<std::string>{"veltrix-captured"});
    EXPECT_EQ(files.linkName("/data-link/driver"), "e1000e");
    EXPECT_FALSE(files.read("/etc-link/passwd").has_value());  // this machine's, not the capture's
    EXPECT_EQ(findIdList(files, "usb.ids"), (tree / "var/lib/usbutils/usb.ids").string());
    EXPECT_EQ(findIdList(files, "pci.ids"), "");
}
