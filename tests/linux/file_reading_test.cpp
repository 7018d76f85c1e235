// Whole-file reads: the size the file system reports is only a hint.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "providers/linux/mapped_file.h"
#include "providers/linux/pci_ids.h"
#include "providers/linux/sysfs_reader.h"

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
