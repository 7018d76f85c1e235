// Opening a report in the desktop's viewer: the opener's own output stays
// out of ours, and a failure to open is told to the caller.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/posix/posix_platform.h"
#include "support/file_text.h"
#include "support/temp_folder.h"

namespace veltrix {
namespace {

using test::TempFolder;

// The opener found on PATH is `script`, for as long as the object lives.
class OpenerOnPath {
public:
    OpenerOnPath(const std::filesystem::path& folder, const std::string& script) {
        std::filesystem::create_directories(folder);
        if (!script.empty()) {
            std::ofstream(folder / "xdg-open") << "#!/bin/sh\n" << script << "\n";
            std::filesystem::permissions(folder / "xdg-open", std::filesystem::perms::owner_all);
        }
        const char* path = std::getenv("PATH");
        saved_ = path ? path : "";
        // Without a script only the folder is on PATH: no opener at all.
        ::setenv("PATH", script.empty() ? folder.c_str() : (folder.string() + ":" + saved_).c_str(), 1);
    }
    ~OpenerOnPath() { ::setenv("PATH", saved_.c_str(), 1); }

private:
    std::string saved_;
};

TEST(OpenInViewer, TheOpenersVerdictIsTheResult) {
    TempFolder folder;
    const std::string report = folder.str() + "/r.htm";
    std::ofstream(report) << "<html></html>";
    PosixPlatform platform(folder.str(), "/");
    {
        // The opener gets the path, and nothing it prints reaches our output.
        OpenerOnPath opener(folder.str() + "/works", "echo \"$1\" > " + folder.str() + "/asked; echo noise; exit 0");
        EXPECT_TRUE(platform.openWithShell(report).ok());
        EXPECT_EQ(test::readFile(folder.str() + "/asked"), report + "\n");
    }
    {
        OpenerOnPath opener(folder.str() + "/none", "echo 'no method available' >&2; exit 3");
        Status refused = platform.openWithShell(report);
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.failure.description, "no viewer is set up for it; xdg-open ended with 3");
    }
    {
        OpenerOnPath opener(folder.str() + "/empty", "");
        Status missing = platform.openWithShell(report);
        ASSERT_FALSE(missing.ok());
        EXPECT_NE(missing.failure.description.find("xdg-open is not installed"), std::string::npos)
            << missing.failure.description;
    }
}

// An opener that stays (the viewer itself) is success, and is not waited for
// longer than the verdict takes.
TEST(OpenInViewer, AnOpenerThatKeepsRunningIsShowingTheReport) {
    TempFolder folder;
    PosixPlatform platform(folder.str(), "/");
    OpenerOnPath opener(folder.str() + "/stays", "exec sleep 5");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(platform.openWithShell(folder.str() + "/r.htm").ok());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

}  // namespace
}  // namespace veltrix
