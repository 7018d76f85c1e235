#include "platform/posix/companion_program.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/temp_folder.h"

namespace veltrix {
namespace {

namespace fs = std::filesystem;
using test::TempFolder;

void makeFile(const fs::path& path, bool executable) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << "#!/bin/sh\n";
    fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
}

class DesktopProgramTest : public ::testing::Test {
protected:
    TempFolder root;
    std::string bin = (root / "usr/bin").string();
    fs::path beside = root / "usr/bin/veltrix-desktop";
    fs::path installed = root / "usr/libexec/veltrix/veltrix-desktop";
    void SetUp() override { fs::create_directories(bin); }
};

TEST_F(DesktopProgramTest, BesideTheCommandLineWinsOverTheInstalledOne) {
    makeFile(beside, true);
    makeFile(installed, true);
    auto found = findDesktopProgram(bin, "../libexec/veltrix");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, beside.string());
    EXPECT_FALSE(found->installed);
}

TEST_F(DesktopProgramTest, FindsTheInstalledOneThroughTheRelativePrivateFolder) {
    makeFile(installed, true);
    auto found = findDesktopProgram(bin, "../libexec/veltrix");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, installed.string());  // no ".." left in the path handed to exec
    EXPECT_TRUE(found->installed);
}

TEST_F(DesktopProgramTest, OnlyAnExecutableRegularFileCounts) {
    makeFile(beside, false);
    fs::create_directories(installed);  // a folder of that name
    EXPECT_FALSE(findDesktopProgram(bin, "../libexec/veltrix"));
    EXPECT_FALSE(findDesktopProgram((root / "missing").string(), "../libexec/veltrix"));
}

TEST_F(DesktopProgramTest, EachCompanionIsFoundByItsOwnName) {
    makeFile(beside, true);
    const fs::path store = root / "usr/libexec/veltrix/veltrix-store";
    makeFile(store, true);
    auto found = findCompanionProgram(kStoreProgramName, bin, "../libexec/veltrix");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, store.string());
    EXPECT_TRUE(found->installed);
    EXPECT_EQ(findDesktopProgram(bin, "../libexec/veltrix")->path, beside.string());
    fs::remove(store);
    EXPECT_FALSE(findCompanionProgram(kStoreProgramName, bin, "../libexec/veltrix"));
}

TEST(DesktopReportFolder, NextToTheProgramUnlessInstalled) {
    EXPECT_EQ(desktopReportFolder("/opt/build", false, "/home/ann"), "/opt/build");
    EXPECT_EQ(desktopReportFolder("/usr/bin", true, "/home/ann"), "/home/ann");
    EXPECT_EQ(desktopReportFolder("/usr/bin", true, nullptr), fs::current_path().string());
    EXPECT_EQ(desktopReportFolder("/usr/bin", true, ""), fs::current_path().string());
}

}  // namespace
}  // namespace veltrix
