// The batch command line of the Windows program with folders and report
// names in German, Russian and Chinese: every path it is given reaches the
// file system as the characters the user typed.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/utf8_path.h"
#include "platform/windows/utf16.h"
#include "platform/windows/windows_locale.h"
#include "platform/windows/windows_platform.h"
#include "support/temp_folder.h"
#include "ui/console/batch.h"

namespace veltrix {
namespace {

struct BatchRun {
    int exitCode = -1;
    std::string messages;
};

BatchRun batch(std::vector<std::string> args) {
    BatchEnvironment environment;
    environment.liveService = []() -> Result<std::shared_ptr<wmi::Service>> {
        return Failure{1, "no live scan in this test"};
    };
    environment.makePlatform = [](const std::string& folder) -> std::unique_ptr<Platform> {
        return std::make_unique<WindowsPlatform>(folder);
    };
    environment.makeLocale = []() -> std::unique_ptr<Locale> { return std::make_unique<WindowsLocale>(); };
    args.insert(args.begin(), "veltrix");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    BatchRun run;
    run.exitCode = runBatch(static_cast<int>(argv.size()), argv.data(), environment, out, err);
    std::rewind(err);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, err)) > 0;) run.messages.append(buffer, n);
    std::fclose(out);
    std::fclose(err);
    return run;
}

bool exists(const std::string& utf8Path) {
    return GetFileAttributesW(win::toWide(utf8Path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(WindowsBatchPaths, FoldersSnapshotsAndReportNamesInAnyScript) {
    test::TempFolder temp;
    const std::string base = utf8FromPath(temp / "");
    const std::string snapshot = std::string(VELTRIX_EXAMPLES) + "/office-desktop.json";
    struct Case {
        const char* folder;
        const char* name;
    };
    for (const Case& c : {Case{"Gr\xc3\xb6\xc3\x9f" "e", "Bericht-\xc3\x84rger"},
                          Case{"\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82", "\xd0\xbe\xd1\x82\xd1\x87\xd1\x91\xd1\x82"},
                          Case{"\xe6\x8a\xa5\xe5\x91\x8a", "\xe6\x8a\xa5\xe5\x91\x8a-pc12"}}) {
        SCOPED_TRACE(c.folder);
        const std::string folder = base + c.folder;
        ASSERT_TRUE(CreateDirectoryW(win::toWide(folder).c_str(), nullptr));
        // The snapshot to replay sits in the folder too.
        const std::string input = folder + "\\input.json";
        ASSERT_TRUE(CopyFileW(win::toWide(snapshot).c_str(), win::toWide(input).c_str(), FALSE));
        const std::string saved = folder + "\\" + c.name + ".json";

        BatchRun run = batch({"--batch", "--name", c.name, "--output-dir", folder, "--snapshot", input,
                         "--save-snapshot", saved});
        EXPECT_LE(run.exitCode, 1) << run.messages;
        const std::string report = folder + "\\" + c.name + ".htm";
        EXPECT_TRUE(exists(report)) << run.messages;
        EXPECT_TRUE(exists(saved)) << run.messages;
        // The message names the report with the folder as it was typed.
        EXPECT_NE(run.messages.find(report), std::string::npos) << run.messages;

        // The saved snapshot, under its own name in that folder, replays.
        BatchRun again = batch({"--batch", "--name", "again", "--output-dir", folder, "--snapshot", saved});
        EXPECT_EQ(again.exitCode, run.exitCode) << again.messages;
        EXPECT_TRUE(exists(folder + "\\again.htm")) << again.messages;
    }
    // A folder that does not exist is named as given, and no report is left.
    const std::string missing = base + "Gr\xc3\xb6\xc3\x9f" "e-fehlt";
    BatchRun refused = batch({"--batch", "--name", "x", "--output-dir", missing, "--snapshot", snapshot});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.messages.find(missing), std::string::npos) << refused.messages;
    BatchRun unread = batch({"--batch", "--name", "x", "--output-dir", base, "--snapshot", missing + "\\none.json"});
    EXPECT_EQ(unread.exitCode, 2);
    EXPECT_NE(unread.messages.find("Gr\xc3\xb6\xc3\x9f" "e-fehlt\\none.json"), std::string::npos) << unread.messages;
}

}  // namespace
}  // namespace veltrix
