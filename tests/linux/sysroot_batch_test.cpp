// The batch command line scanning a captured system tree (--sysroot).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "providers/linux/linux_source.h"
#include "support/fixed_clock_platform.h"
#include "support/temp_folder.h"
#include "ui/console/batch.h"
#include "wmi/table_service.h"

namespace veltrix {
namespace {

const std::string kServer = std::string(VELTRIX_TEST_DATA) + "/linux-real/hwloc-40intel64-2g2n4c+pcilocality";

struct Outcome {
    int code = -1;
    std::string err;
};

class SysrootBatch : public ::testing::Test {
protected:
    test::TempFolder folder;
    bool offersSysroot = true;  // whether the platform offers --sysroot

    Outcome run(std::vector<std::string> args) {
        BatchEnvironment env;
        env.liveService = []() -> Result<std::shared_ptr<wmi::Service>> {
            ADD_FAILURE() << "this machine was scanned";
            return Failure{1, "no live scan here"};
        };
        if (offersSysroot)
            env.sysrootService = [](const std::string& root) -> Result<std::shared_ptr<wmi::Service>> {
                struct Holder {
                    std::unique_ptr<wmi::ClassSource> source;
                    std::unique_ptr<wmi::TableService> service;
                };
                auto holder = std::make_shared<Holder>();
                holder->source = makeSysrootSource(root);
                holder->service = std::make_unique<wmi::TableService>(*holder->source);
                return std::shared_ptr<wmi::Service>(holder, holder->service.get());
            };
        env.makePlatform = [this](const std::string& output) -> std::unique_ptr<Platform> {
            return std::make_unique<test::FixedClockPlatform>(output, (folder / "drive/").string(),
                                                               DateTime{2026, 12, 7, 9, 5, 0});
        };
        env.makeLocale = [] { return std::unique_ptr<Locale>(std::make_unique<EnglishLocale>()); };
        args.insert(args.begin(), "veltrix");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        Outcome result;
        result.code = runBatch(static_cast<int>(argv.size()), argv.data(), env, out, err);
        std::rewind(err);
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, err)) > 0) result.err.append(buffer, n);
        std::fclose(out);
        std::fclose(err);
        return result;
    }

    std::string report(const std::string& name) {
        std::ifstream in(folder / name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) ++n;
    return n;
}

TEST_F(SysrootBatch, ScansTheCaptureAndEachPortShowsItsOwnMac) {
    auto r = run({"--batch", "--sysroot", kServer, "--name", "server", "--output-dir", folder.str(),
                  "--save-snapshot", (folder / "server.json").string()});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const std::string page = report("server.htm");
    EXPECT_NE(page.find("Intel(R) Xeon(R) CPU E7- 4870 @ 2.40GHz"), std::string::npos);
    // Once under its adapter in "Network", once under its device in "PNP".
    for (const char* mac : {"78:2B:CB:38:AC:1B", "78:2B:CB:38:AC:1D", "78:2B:CB:38:AC:1F", "78:2B:CB:38:AC:21"})
        EXPECT_EQ(count(page, mac), 2u) << mac;

    // The snapshot of the capture replays the same report.
    std::filesystem::create_directories(folder / "replay");
    auto replay = run({"--batch", "--snapshot", (folder / "server.json").string(), "--name", "server",
                       "--output-dir", (folder / "replay").string()});
    ASSERT_EQ(replay.code, kExitOk) << replay.err;
    EXPECT_EQ(report("replay/server.htm"), page);
}

TEST_F(SysrootBatch, MissingOrWrongDirectoryIsRefusedWithoutAReport) {
    std::ofstream(folder / "plain-file") << "not a tree";
    const std::vector<std::pair<std::string, std::string>> cases{
        {(folder / "absent").string(), "no such directory"},
        {(folder / "plain-file").string(), "not a directory"}};
    for (const auto& [root, message] : cases) {
        auto r = run({"--batch", "--sysroot", root, "--name", "x", "--output-dir", folder.str()});
        EXPECT_EQ(r.code, kExitBadInput) << root;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(folder / "x.htm")) << root;
    }
    auto both = run({"--batch", "--sysroot", kServer, "--snapshot", "some.json", "--name", "x", "--output-dir",
                     folder.str()});
    EXPECT_EQ(both.code, kExitBadInput);
    EXPECT_FALSE(std::filesystem::exists(folder / "x.htm"));

    offersSysroot = false;
    auto elsewhere = run({"--batch", "--sysroot", kServer, "--name", "x", "--output-dir", folder.str()});
    EXPECT_EQ(elsewhere.code, kExitBadInput);
    EXPECT_NE(elsewhere.err.find("--sysroot is only available on Linux"), std::string::npos) << elsewhere.err;
    EXPECT_FALSE(std::filesystem::exists(folder / "x.htm"));
}

}  // namespace
}  // namespace veltrix
