#include "support/tree_archive.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "support/temp_folder.h"

namespace fs = std::filesystem;
using veltrix::fuzzing::packTree;
using veltrix::fuzzing::unpackTree;
using veltrix::test::TempFolder;

namespace {

std::string record(char kind, std::string_view path, std::string_view data) {
    std::string r{kind, static_cast<char>(path.size()), static_cast<char>(data.size() & 0xFF),
                  static_cast<char>(data.size() >> 8)};
    return r + std::string(path) + std::string(data);
}

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(TreeArchive, PacksAndUnpacksFilesFoldersAndLinks) {
    TempFolder from, to;
    fs::create_directories(from / "sys/devices/pci0000:00/0000:00:1f.3");
    fs::create_directories(from / "empty");
    std::ofstream(from / "sys/devices/pci0000:00/0000:00:1f.3/vendor") << "0x8086\n";
    std::string binary(70000, '\0');  // beyond one record: cut at 65,535 bytes
    binary[1] = '\x7F';
    std::ofstream(from / "table", std::ios::binary) << binary;
    fs::create_directories(from / "sys/bus/pci/devices");
    fs::create_symlink("../../../devices/pci0000:00/0000:00:1f.3", from / "sys/bus/pci/devices/0000:00:1f.3");

    std::string archive = packTree(from.str(), 1 << 20);
    EXPECT_EQ(archive, packTree(from.str(), 1 << 20));  // stable
    unpackTree(archive, to.str());
    EXPECT_EQ(contents(to / "sys/bus/pci/devices/0000:00:1f.3/vendor"), "0x8086\n");  // through the link
    EXPECT_EQ(fs::read_symlink(to / "sys/bus/pci/devices/0000:00:1f.3"),
              "../../../devices/pci0000:00/0000:00:1f.3");
    EXPECT_TRUE(fs::is_directory(to / "empty"));
    EXPECT_EQ(contents(to / "table"), binary.substr(0, 65535));

    // The limit leaves out whole records, never half of one.
    std::string small = packTree(from.str(), 200);
    EXPECT_LE(small.size(), 200u);
    TempFolder partial;
    unpackTree(small, partial.str());
    EXPECT_FALSE(fs::exists(partial / "table"));
}

TEST(TreeArchive, NothingIsWrittenOutsideTheRoot) {
    TempFolder outer;
    const fs::path root = outer / "root";
    fs::create_directories(root);
    std::string archive = record('f', "../escaped", "x") + record('f', "/abs/escaped", "y") +
                          record('f', "a/../../escaped2", "z") +
                          // A link to the folder above, and files written "through" it
                          // before and after it in the archive.
                          record('f', "up/escaped3", "early") + record('l', "up", "..") +
                          record('f', "up/escaped4", "late") + record('d', "up/dir", "") +
                          // A truncated record at the end is dropped.
                          record('f', "last", "full").substr(0, 6);
    unpackTree(archive, root);

    EXPECT_FALSE(fs::exists(outer / "escaped"));
    EXPECT_FALSE(fs::exists(outer / "escaped2"));
    EXPECT_FALSE(fs::exists(outer / "escaped4"));
    EXPECT_FALSE(fs::exists(outer / "dir"));
    EXPECT_EQ(contents(root / "escaped"), "x");       // ".." dropped, kept inside
    EXPECT_EQ(contents(root / "abs/escaped"), "y");
    EXPECT_EQ(contents(root / "a/escaped2"), "z");
    // "up" was a folder by the time the link came, so the link was not made.
    EXPECT_FALSE(fs::is_symlink(fs::symlink_status(root / "up")));
    EXPECT_EQ(contents(root / "up/escaped3"), "early");
    EXPECT_FALSE(fs::exists(root / "last"));

    // A link given first still cannot carry a later file out: files are
    // made first, and the link then finds its name taken.
    const fs::path other = outer / "other";
    fs::create_directories(other);
    unpackTree(record('l', "out", "..") + record('f', "out/escaped5", "w") + record('l', "loop", "loop"), other);
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(other / "out")));
    EXPECT_EQ(contents(other / "out/escaped5"), "w");
    EXPECT_FALSE(fs::exists(outer / "escaped5"));
    EXPECT_EQ(fs::read_symlink(other / "loop"), "loop");  // targets are the reader's business
}
