#include "ui/console/batch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/version.h"
#include "providers/linux/linux_source.h"
#include "support/fixed_clock_platform.h"
#include "support/temp_folder.h"
#include "wmi/table_service.h"

namespace veltrix {
namespace {

using test::TempFolder;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct BatchRun {
    int code = -1;
    std::string out, err;
};

class BatchTest : public ::testing::Test {
protected:
    TempFolder folder;
    std::string liveRoot = std::string(VELTRIX_TEST_DATA) + "/linux/desktop";
    int liveConnections = 0;

    BatchEnvironment environment() {
        BatchEnvironment env;
        env.liveService = [this]() -> Result<std::shared_ptr<wmi::Service>> {
            ++liveConnections;
            struct Holder {
                std::unique_ptr<wmi::ClassSource> source;
                std::unique_ptr<wmi::TableService> service;
            };
            auto holder = std::make_shared<Holder>();
            holder->source = makeLinuxSource(liveRoot);
            holder->service = std::make_unique<wmi::TableService>(*holder->source);
            return std::shared_ptr<wmi::Service>(holder, holder->service.get());
        };
        env.makePlatform = [this](const std::string& output) -> std::unique_ptr<Platform> {
            return std::make_unique<test::FixedClockPlatform>(output, (folder / "drive/").string(),
                                                               DateTime{2026, 12, 7, 9, 5, 0});
        };
        env.makeLocale = [] { return std::unique_ptr<Locale>(std::make_unique<EnglishLocale>()); };
        return env;
    }

    BatchRun run(std::vector<std::string> args) {
        args.insert(args.begin(), "veltrix");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        auto env = environment();
        BatchRun result;
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        result.code = runBatch(static_cast<int>(argv.size()), argv.data(), env, out, err);
        auto slurp = [](std::FILE* f) {
            std::string s;
            std::rewind(f);
            char buffer[4096];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) s.append(buffer, n);
            std::fclose(f);
            return s;
        };
        result.out = slurp(out);
        result.err = slurp(err);
        return result;
    }

    std::string writeSnapshot(const std::string& name, const std::string& json) {
        auto path = folder / name;
        std::ofstream(path) << json;
        return path.string();
    }
};

TEST_F(BatchTest, ScansASnapshotIntoTheOutputFolder) {
    auto r = run({"--batch", "--name", "PC042", "--comment", "Pr\xC3\xBC" "fung", "--output-dir", folder.str(),
                  "--snapshot", std::string(VELTRIX_EXAMPLES) + "/office-desktop.json"});
    EXPECT_EQ(r.code, kExitOk) << r.err;
    std::string report = readFile(folder / "PC042.htm");
    EXPECT_NE(report.find("<title>PC042.htm</title>\r\n"), std::string::npos);
    EXPECT_NE(report.find("<B>Comment:</B>&nbsp; Pr&uuml;fung<br>"), std::string::npos);
    EXPECT_NE(report.find("Norvane Computing GmbH&nbsp;"), std::string::npos);
    EXPECT_NE(r.err.find("The file is saved on " + folder.str() + "/PC042.htm"), std::string::npos);
    EXPECT_EQ(liveConnections, 0);
}

TEST_F(BatchTest, BadArgumentsAndBadSnapshotsExit2WithoutTouchingTheReport) {
    std::ofstream(folder / "keep.htm") << "old report";
    const std::string bad = writeSnapshot("bad.json", "{\"veltrix-snapshot\": 1,\n  \"namespaces\": [}");
    const std::string wrongVersion = writeSnapshot("v2.json", "{\"veltrix-snapshot\": 2}");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--batch", "--name", "keep", "--output-dir", folder.str(), "--snapshot", bad}, "bad.json:2:"},
        {{"--batch", "--name", "keep", "--output-dir", folder.str(), "--snapshot", wrongVersion}, "v2.json"},
        {{"--batch", "--name", "keep", "--output-dir", folder.str(), "--snapshot", folder.str() + "/none.json"},
         "none.json"},
        {{"--batch", "--name", "a:b", "--output-dir", folder.str()}, "':'"},
        {{"--batch", "--name", "a b", "--output-dir", folder.str()}, "a space"},
        {{"--batch", "--output-dir", folder.str()}, "--name"},
        {{"--name", "keep"}, "--batch"},
        {{"--batch", "--name", "keep", "--frobnicate"}, "frobnicate"},
    };
    for (const auto& [args, mention] : cases) {
        auto r = run(args);
        EXPECT_EQ(r.code, kExitBadInput) << args.back();
        EXPECT_NE(r.err.find(mention), std::string::npos) << r.err;
        EXPECT_EQ(readFile(folder / "keep.htm"), "old report");
    }
    EXPECT_EQ(liveConnections, 0);
}

TEST_F(BatchTest, MissingOutputFolderEndsWithCouldNotCreate) {
    auto r = run({"--batch", "--name", "x", "--output-dir", folder.str() + "/missing"});
    EXPECT_EQ(r.code, kExitScanFailed);
    EXPECT_NE(r.err.find("Could not create the file..."), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
}

TEST_F(BatchTest, VersionAndHelp) {
    auto v = run({"--version"});
    EXPECT_EQ(v.code, kExitOk);
    EXPECT_NE(v.out.find(std::string("Veltrix ") + kVersionText), std::string::npos);
    auto h = run({"--help"});
    EXPECT_EQ(h.code, kExitOk);
    EXPECT_NE(h.out.find("--save-snapshot"), std::string::npos);
}

TEST_F(BatchTest, SavedSnapshotReplaysTheSameReportByteForByte) {
    auto live = run({"--batch", "--name", "live", "--output-dir", folder.str(), "--save-snapshot",
                     (folder / "machine.json").string()});
    ASSERT_EQ(live.code, kExitOk) << live.err;
    EXPECT_EQ(liveConnections, 1);
    std::filesystem::create_directories(folder / "drive");
    auto replay = run({"--batch", "--name", "live", "--output-dir", (folder / "drive").string(), "--snapshot",
                  (folder / "machine.json").string()});
    ASSERT_EQ(replay.code, kExitOk) << replay.err;
    std::string original = readFile(folder / "live.htm");
    EXPECT_NE(original.find("&nbsp;Bios</strong>"), std::string::npos);
    EXPECT_EQ(readFile(folder / "drive/live.htm"), original);
}

}  // namespace
}  // namespace veltrix
