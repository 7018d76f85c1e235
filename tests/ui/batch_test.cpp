#include "support/file_text.h"
#include "ui/console/batch.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "core/version.h"
#include "providers/linux/linux_source.h"
#include "support/fixed_clock_platform.h"
#include "support/temp_folder.h"
#include "wmi/table_service.h"

namespace veltrix {
namespace {

using test::TempFolder;

using test::readFile;

struct BatchRun {
    int code = -1;
    std::string out, err;
};

class BatchTest : public ::testing::Test {
protected:
    TempFolder folder;
    std::string liveRoot = std::string(VELTRIX_TEST_DATA) + "/linux/desktop";
    int liveConnections = 0;
    bool offersSysroot = true;  // as the Linux program does
    DateTime clock{2026, 12, 7, 9, 5, 0};
    std::function<int(int, char**, std::FILE*, std::FILE*)> storeCommand;
    std::FILE* standardInput = nullptr;  // what `-` reads; the process's own when null

    static std::shared_ptr<wmi::Service> serviceOver(std::unique_ptr<wmi::ClassSource> source) {
        struct Holder {
            std::unique_ptr<wmi::ClassSource> source;
            std::unique_ptr<wmi::TableService> service;
        };
        auto holder = std::make_shared<Holder>();
        holder->source = std::move(source);
        holder->service = std::make_unique<wmi::TableService>(*holder->source);
        return std::shared_ptr<wmi::Service>(holder, holder->service.get());
    }

    BatchEnvironment environment() {
        BatchEnvironment env;
        env.liveService = [this]() -> Result<std::shared_ptr<wmi::Service>> {
            ++liveConnections;
            return serviceOver(makeLinuxSource(liveRoot));
        };
        if (offersSysroot)
            env.sysrootService = [](const std::string& root) -> Result<std::shared_ptr<wmi::Service>> {
                return serviceOver(makeSysrootSource(root));
            };
        env.makePlatform = [this](const std::string& output) -> std::unique_ptr<Platform> {
            return std::make_unique<test::FixedClockPlatform>(output, (folder / "drive/").string(), clock);
        };
        env.makeLocale = [] { return std::unique_ptr<Locale>(std::make_unique<EnglishLocale>()); };
        env.storeCommand = storeCommand;
        if (standardInput) env.input = standardInput;
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
        result.out = test::readAndClose(out);
        result.err = test::readAndClose(err);
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
    const std::string wrongVersion = writeSnapshot("v3.json", "{\"veltrix-snapshot\": 3}");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--batch", "--name", "keep", "--output-dir", folder.str(), "--snapshot", bad}, "bad.json:2:"},
        {{"--batch", "--name", "keep", "--output-dir", folder.str(), "--snapshot", wrongVersion}, "v3.json"},
        {{"--batch", "--name", "keep", "--output-dir", folder.str(), "--snapshot", folder.str() + "/none.json"},
         "none.json"},
        {{"--batch", "--name", "a:b", "--output-dir", folder.str()}, "':'"},
        {{"--batch", "--name", "a b", "--output-dir", folder.str()}, "a space"},
        {{"--batch", "--output-dir", folder.str()}, "--name"},
        {{"--name", "keep"}, "--batch"},
        {{"--batch", "--name", "keep", "--frobnicate"}, "frobnicate"},
        {{"--batch", "--name", "keep", "--output-dir", folder.str(), "--sysroot", folder.str() + "/none"},
         "no such directory"},
        {{"--batch", "--name", "keep", "--output-dir", folder.str(), "--sysroot", ""}, "needs a directory"},
        {{"--batch", "--name", "keep", "--output-dir", folder.str(), "--sysroot", (folder / "keep.htm").string()},
         "not a directory"},
        {{"--batch", "--name", "keep", "--output-dir", folder.str(), "--sysroot", folder.str(), "--snapshot", bad},
         "cannot be used together"},
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

TEST_F(BatchTest, StoreIsHandedOverWholeOrRefusedWhereThereIsNone) {
    auto refused = run({"store", "add", "x.json"});
    EXPECT_EQ(refused.code, kExitBadInput);
    EXPECT_NE(refused.err.find("fleet store is not part of this program"), std::string::npos) << refused.err;

    std::vector<std::string> handed;
    storeCommand = [&handed](int argc, char** argv, std::FILE* out, std::FILE*) {
        handed.assign(argv, argv + argc);
        std::fputs("stored\n", out);
        return 1;
    };
    auto ran = run({"store", "add", "--db", "a b.sqlite", "--name", "x.json"});
    EXPECT_EQ(ran.code, 1);  // the store's own code, not the scan's
    EXPECT_EQ(handed, (std::vector<std::string>{"store", "add", "--db", "a b.sqlite", "--name", "x.json"}));
    EXPECT_EQ(ran.out, "stored\n");
    EXPECT_EQ(liveConnections, 0);
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

// A replay on another day gives the bytes of the live report: the snapshot
// says when it was taken and whose it is. Older snapshots replay dated now.
TEST_F(BatchTest, SnapshotCarriesWhenAndWhoseAndItsReplayIsDatedByIt) {
    auto live = run({"--batch", "--name", "live", "--output-dir", folder.str(), "--save-snapshot",
                     (folder / "machine.json").string()});
    ASSERT_EQ(live.code, kExitOk) << live.err;
    const std::string saved = readFile(folder / "machine.json");
    auto json = nlohmann::json::parse(saved);
    EXPECT_EQ(json["veltrix-snapshot"], 2);
    const std::string takenAt = json["taken-at"];
    EXPECT_EQ(takenAt.substr(0, 19), "2026-12-07T09:05:00") << takenAt;
    ASSERT_TRUE(json.contains("machine")) << saved.substr(0, 400);
    for (auto& [key, value] : json["machine"].items()) {
        if (value.is_string()) {
            EXPECT_FALSE(value.get<std::string>().empty()) << key;
        }
    }

    clock = DateTime{2027, 3, 1, 18, 30, 0};
    std::filesystem::create_directories(folder / "drive");
    auto replay = run({"--batch", "--name", "live", "--output-dir", (folder / "drive").string(), "--snapshot",
                       (folder / "machine.json").string(), "--save-snapshot", (folder / "again.json").string()});
    ASSERT_EQ(replay.code, kExitOk) << replay.err;
    EXPECT_EQ(readFile(folder / "drive/live.htm"), readFile(folder / "live.htm"));
    auto again = nlohmann::json::parse(readFile(folder / "again.json"));
    EXPECT_EQ(again["taken-at"], takenAt);  // a re-recording keeps the original's time and owner
    EXPECT_EQ(again["machine"], json["machine"]);

    json.erase("taken-at");
    json["veltrix-snapshot"] = 1;
    const std::string old = writeSnapshot("old.json", json.dump());
    auto dated = run({"--batch", "--name", "old", "--output-dir", (folder / "drive").string(), "--snapshot", old,
                      "--trace"});
    ASSERT_EQ(dated.code, kExitOk) << dated.err;
    EXPECT_NE(dated.err.find("does not say when it was taken; the report is dated now"), std::string::npos);
    EXPECT_NE(readFile(folder / "drive/old.htm").find("01-March-2027 18:30"), std::string::npos);
}

// The trace says which file answered and why one was left out, so that an
// empty section can be explained.
TEST_F(BatchTest, TraceNamesTheFilesReadAndWhyOthersWereLeftOut) {
    const std::string laptop = std::string(VELTRIX_TEST_DATA) + "/linux-real/systemd-sysscript";
    auto r = run({"--batch", "--sysroot", laptop, "--name", "laptop", "--output-dir", folder.str(), "--trace"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_NE(r.err.find("linux: /sys/firmware/dmi/tables/DMI: left out, not there\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("linux: /sys/class/net/wlan0/address: read, 18 bytes\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("wmi: query \"SELECT * FROM Win32_NetworkAdapter"), std::string::npos) << r.err;
    auto quiet = run({"--batch", "--sysroot", laptop, "--name", "quiet", "--output-dir", folder.str()});
    EXPECT_EQ(quiet.err.find("linux: "), std::string::npos) << quiet.err;
}

TEST_F(BatchTest, SysrootScansACaptureWhereEachPortShowsItsOwnMac) {
    // Four ports of one network chip (tests/data/linux-real/README.md).
    const std::string server = std::string(VELTRIX_TEST_DATA) + "/linux-real/hwloc-40intel64-2g2n4c+pcilocality";
    auto r = run({"--batch", "--sysroot", server, "--name", "server", "--output-dir", folder.str(), "--save-snapshot",
                  (folder / "server.json").string()});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(liveConnections, 0);
    const std::string page = readFile(folder / "server.htm");
    EXPECT_NE(page.find("Intel(R) Xeon(R) CPU E7- 4870 @ 2.40GHz"), std::string::npos);
    // Once under its adapter in "Network", once under its device in "PNP".
    for (const std::string mac : {"78:2B:CB:38:AC:1B", "78:2B:CB:38:AC:1D", "78:2B:CB:38:AC:1F", "78:2B:CB:38:AC:21"}) {
        std::size_t seen = 0;
        for (auto at = page.find(mac); at != std::string::npos; at = page.find(mac, at + 1)) ++seen;
        EXPECT_EQ(seen, 2u) << mac;
    }
    std::filesystem::create_directories(folder / "drive");
    auto replay = run({"--batch", "--snapshot", (folder / "server.json").string(), "--name", "server",
                       "--output-dir", (folder / "drive").string()});
    ASSERT_EQ(replay.code, kExitOk) << replay.err;
    EXPECT_EQ(readFile(folder / "drive/server.htm"), page);

    offersSysroot = false;  // as on Windows
    auto refused = run({"--batch", "--sysroot", server, "--name", "x", "--output-dir", folder.str()});
    EXPECT_EQ(refused.code, kExitBadInput);
    EXPECT_NE(refused.err.find("--sysroot is only available on Linux"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(folder / "x.htm"));
}

// Every hostile input gives exit 2 or a report, and never a crash.
TEST_F(BatchTest, HostileSnapshotsAreRefusedOrGiveAReport) {
    const std::string deep(100000, '[');
    const std::string deepEnd(100000, ']');
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"{\"veltrix-snapshot\": 1e309}", "huge-version.json:1:22: the number 1e309 is out of range"},
        {"{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {\"Win32_DiskDrive\": [{\"Size\": 1e309}]}}}",
         "huge-size.json:1:"},
        {"{\"veltrix-snapshot\": " + deep + deepEnd + "}", "deep-version.json:1:85: nested more than 64 levels"},
        {deep + "{\"a\":1,\"a\":2}" + deepEnd, "deep-duplicate.json:1:65: nested more than 64 levels"},
    };
    const char* const names[] = {"huge-version.json", "huge-size.json", "deep-version.json", "deep-duplicate.json"};
    for (std::size_t i = 0; i < refused.size(); ++i) {
        auto r = run({"--batch", "--name", "x", "--output-dir", folder.str(), "--snapshot",
                      writeSnapshot(names[i], refused[i].first)});
        EXPECT_EQ(r.code, kExitBadInput) << names[i];
        EXPECT_NE(r.err.find(refused[i].second), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(folder / "x.htm"));

    const std::string markup = writeSnapshot("markup.json", R"({"veltrix-snapshot": 1, "namespaces": {"root\\cimv2": {
        "Win32_PhysicalMemory": [{"MemoryType": 24, "Capacity": "1e300"}, {"MemoryType": 24, "Capacity": 3.0e38}],
        "Win32_Bios": {"error": {"number": 4112, "description": "<script>alert(1)</script>\n<img src=x onerror=alert(2)>"}}
    }}})");
    auto r = run({"--batch", "--name", "markup", "--output-dir", folder.str(), "--snapshot", markup});
    EXPECT_EQ(r.code, kExitOk) << r.err;
    const std::string report = readFile(folder / "markup.htm");
    EXPECT_EQ(report.find("<script>"), std::string::npos);
    EXPECT_EQ(report.find("<img"), std::string::npos);
    EXPECT_NE(report.find("&lt;script&gt;alert(1)&lt;/script&gt; &lt;img src=x onerror=alert(2)&gt;&nbsp;"),
              std::string::npos);
    EXPECT_EQ(report.find("9223372036854775808"), std::string::npos);
    // The sections that wrote an "Error" row are named on one line.
    const std::size_t line = r.err.find("veltrix: sections with errors: ");
    ASSERT_NE(line, std::string::npos) << r.err;
    const std::string named = r.err.substr(line, r.err.find('\n', line) - line);
    EXPECT_NE(named.find("Bios, "), std::string::npos) << named;
    EXPECT_NE(named.find(", Memory"), std::string::npos) << named;
}

TEST_F(BatchTest, AScanThatReachedNoDataSourceExits1) {
    const std::string unreachable = writeSnapshot("down.json", R"({"veltrix-snapshot": 1,
        "connect-error": {"number": 462, "description": "<b>down</b>"}})");
    auto r = run({"--batch", "--name", "down", "--output-dir", folder.str(), "--snapshot", unreachable});
    EXPECT_EQ(r.code, kExitScanFailed);
    EXPECT_NE(r.err.find("veltrix: the scan reached no data source (every connection failed: <b>down</b>)"),
              std::string::npos)
        << r.err;
    const std::string report = readFile(folder / "down.htm");
    EXPECT_EQ(report.find("<b>down"), std::string::npos);
    EXPECT_NE(report.find("&lt;b&gt;down&lt;/b&gt;&nbsp;"), std::string::npos);
}

TEST_F(BatchTest, EmptyAndOddArgumentsExit2) {
    const std::string example = std::string(VELTRIX_EXAMPLES) + "/office-desktop.json";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--batch", "--name", "a\nb", "--output-dir", folder.str()}, "a control character (0x0A)"},
        {{"--batch", "--name", std::string("a\x01", 2), "--output-dir", folder.str()}, "(0x01)"},
        {{"--batch", "--name", std::string(252, 'n'), "--output-dir", folder.str()}, "too long (252 bytes"},
        {{"--batch", "--name", "x", "--output-dir", ""}, "--output-dir"},
        {{"--batch", "--name", "x", "--output-dir", folder.str(), "--snapshot", ""}, "--snapshot"},
        {{"--batch", "--name", "x", "--output-dir", folder.str(), "--snapshot", example, "--save-snapshot", ""},
         "--save-snapshot"},
        {{"--batch", "--name", "x", "--output-dir", folder.str(), "--snapshot", "/dev/zero"}, "not a regular file"},
        {{"--batch", "--name", "x", "--output-dir", folder.str(), "--snapshot", folder.str()}, "not a regular file"},
        {{"--batch", "--name", "x", "--output-dir", folder.str(), "--snapshot",
          writeSnapshot("binary.json", std::string("\x7F" "ELF\x02\x01\x01\x00\xff", 9))},
         "binary.json:1:1: not valid JSON"},
    };
    for (const auto& [args, mention] : cases) {
        auto r = run(args);
        EXPECT_EQ(r.code, kExitBadInput) << args[2];
        EXPECT_NE(r.err.find(mention), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find_first_of(std::string("\x01\x02\x7F\xff", 4)), std::string::npos) << r.err;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.str()), {}), 1);  // binary.json only
    EXPECT_EQ(liveConnections, 0);
    // 251 bytes is the longest name that still fits a file name with ".htm".
    auto longest = run({"--batch", "--name", std::string(251, 'n'), "--output-dir", folder.str(), "--snapshot", example});
    EXPECT_EQ(longest.code, kExitOk) << longest.err;
}

TEST_F(BatchTest, CommentLineBreaksBecomeBreaksInOneHeaderLine) {
    auto r = run({"--batch", "--name", "c", "--comment", "first\r\nsecond\nthird\rfourth", "--output-dir", folder.str(),
                  "--snapshot", std::string(VELTRIX_EXAMPLES) + "/office-desktop.json"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const std::string report = readFile(folder / "c.htm");
    EXPECT_NE(report.find("<B>Comment:</B>&nbsp; first<br>second<br>third<br>fourth<br><br></font></td></tr>\r\n"),
              std::string::npos);
    // Every line ends with CR LF: no bare LF or CR anywhere.
    for (std::size_t i = 0; i < report.size(); ++i) {
        if (report[i] == '\n') {
            ASSERT_TRUE(i > 0 && report[i - 1] == '\r') << i;
        }
        if (report[i] == '\r') {
            ASSERT_TRUE(i + 1 < report.size() && report[i + 1] == '\n') << i;
        }
    }
}

TEST_F(BatchTest, UnwritableTargetsNameThePathAndTheReason) {
    std::ofstream(folder / "file") << "a file, not a folder";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {folder.str() + "/missing", "No such file or directory"},
        {folder.str() + "/file", "Not a directory"},
    };
    for (const auto& [dir, reason] : cases) {
        auto r = run({"--batch", "--name", "x", "--output-dir", dir});
        EXPECT_EQ(r.code, kExitScanFailed);
        EXPECT_NE(r.err.find("Could not create the file..."), std::string::npos);
        EXPECT_NE(r.err.find(dir + "/x.htm: " + reason), std::string::npos) << r.err;
    }
}

// A disk that fills up: the file size limit makes every write past it fail
// as a full disk does.
class FullDisk {
public:
    explicit FullDisk(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FullDisk() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

TEST_F(BatchTest, AFullDiskKeepsTheOldReportAndTheOldSnapshot) {
    std::ofstream(folder / "pc.htm") << "old report";
    std::ofstream(folder / "pc.json") << "old snapshot";
    BatchRun r;
    {
        FullDisk full(2048);
        r = run({"--batch", "--name", "pc", "--output-dir", folder.str(), "--save-snapshot",
                 (folder / "pc.json").string()});
    }
    EXPECT_EQ(r.code, kExitScanFailed);
    EXPECT_EQ(readFile(folder / "pc.htm"), "old report");
    EXPECT_EQ(readFile(folder / "pc.json"), "old snapshot");
    EXPECT_NE(r.err.find("Cannot write " + folder.str() + "/pc.htm: File too large"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Cannot write " + folder.str() + "/pc.json: File too large"), std::string::npos) << r.err;
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.str()), {}), 2);

    // A new report that could not be written leaves no empty file either.
    {
        FullDisk full(2048);
        r = run({"--batch", "--name", "fresh", "--output-dir", folder.str()});
    }
    EXPECT_EQ(r.code, kExitScanFailed);
    EXPECT_FALSE(std::filesystem::exists(folder / "fresh.htm"));
}

// PATH with one folder in front holding a fake desktop opener, for as long
// as the object lives.
class FakeOpener {
public:
    FakeOpener(const std::filesystem::path& folder, const std::string& script) {
        std::filesystem::create_directories(folder);
        const auto opener = folder / "xdg-open";
        std::ofstream(opener) << "#!/bin/sh\n" << script << "\n";
        std::filesystem::permissions(opener, std::filesystem::perms::owner_all);
        const char* path = std::getenv("PATH");
        saved_ = path ? path : "";
        ::setenv("PATH", (folder.string() + ":" + saved_).c_str(), 1);
    }
    ~FakeOpener() { ::setenv("PATH", saved_.c_str(), 1); }

private:
    std::string saved_;
};

TEST_F(BatchTest, HelpNamesTheProgramThePathsAndTheOtherCommands) {
    auto h = run({"--help"});
    EXPECT_EQ(h.code, kExitOk);
    EXPECT_NE(h.out.find("Usage: veltrix [OPTIONS]"), std::string::npos) << h.out;
    EXPECT_NE(h.out.find("veltrix store --help"), std::string::npos);
    for (const std::string option : {"--output-dir DIR", "--snapshot FILE", "--save-snapshot FILE", "--sysroot DIR"}) {
        EXPECT_NE(h.out.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(h.out.find(" TEXT:"), std::string::npos);
    // The exit codes as the scan gives them: a report with failed sections is a written report.
    EXPECT_NE(h.out.find("Exit status: 0 the report was written (sections that could not be read"), std::string::npos);
}

TEST_F(BatchTest, ANameGivenWithItsExtensionIsTakenWithout) {
    const std::string example = std::string(VELTRIX_EXAMPLES) + "/office-desktop.json";
    for (const std::string name : {"pc12.htm", "pc12.HTM", "pc12.html"}) {
        auto r = run({"--batch", "--name", name, "--output-dir", folder.str(), "--snapshot", example});
        ASSERT_EQ(r.code, kExitOk) << r.err;
        EXPECT_TRUE(std::filesystem::exists(folder / "pc12.htm")) << name;
        EXPECT_NE(readFile(folder / "pc12.htm").find("<title>pc12.htm</title>"), std::string::npos) << name;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.str()), {}), 1) << name;
    }
    // Only the extension itself: ".htm" alone is a name of its own, and so is one that only contains it.
    auto r = run({"--batch", "--name", "a.htm.x", "--output-dir", folder.str(), "--snapshot", example});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_TRUE(std::filesystem::exists(folder / "a.htm.x.htm"));
}

TEST_F(BatchTest, SnapshotFromStandardInputOrAPipeGivesTheSameReport) {
    const std::string example = std::string(VELTRIX_EXAMPLES) + "/office-desktop.json";
    ASSERT_EQ(run({"--batch", "--name", "file", "--output-dir", folder.str(), "--snapshot", example}).code, kExitOk);

    const std::string json = readFile(example);
    std::filesystem::create_directories(folder / "drive");
    standardInput = std::tmpfile();
    std::fwrite(json.data(), 1, json.size(), standardInput);
    std::rewind(standardInput);
    auto piped = run({"--batch", "--name", "file", "--output-dir", (folder / "drive").string(), "--snapshot", "-"});
    std::fclose(standardInput);
    standardInput = nullptr;
    ASSERT_EQ(piped.code, kExitOk) << piped.err;
    EXPECT_EQ(readFile(folder / "drive/file.htm"), readFile(folder / "file.htm"));

    // A named pipe, as a process substitution gives one.
    const auto fifo = folder / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(fifo) << json; });
    auto named = run({"--batch", "--name", "fifo", "--output-dir", folder.str(), "--snapshot", fifo.string()});
    writer.join();
    ASSERT_EQ(named.code, kExitOk) << named.err;

    // Bad JSON on standard input is named as such.
    standardInput = std::tmpfile();
    std::fputs("{ not json", standardInput);
    std::rewind(standardInput);
    auto bad = run({"--batch", "--name", "bad", "--output-dir", folder.str(), "--snapshot", "-"});
    std::fclose(standardInput);
    standardInput = nullptr;
    EXPECT_EQ(bad.code, kExitBadInput);
    EXPECT_NE(bad.err.find("standard input:1:"), std::string::npos) << bad.err;
    EXPECT_FALSE(std::filesystem::exists(folder / "bad.htm"));
}

TEST_F(BatchTest, MissingFoldersAreOneLineAndNoSuccessFollowsAFailure) {
    const std::string example = std::string(VELTRIX_EXAMPLES) + "/office-desktop.json";
    auto report = run({"--batch", "--name", "x", "--snapshot", example, "--output-dir", folder.str() + "/missing"});
    EXPECT_EQ(report.code, kExitScanFailed);
    EXPECT_EQ(report.err, "veltrix: Could not create the file... " + folder.str() + "/missing/x.htm: " +
                              std::strerror(ENOENT) + " (the folder " + folder.str() + "/missing does not exist)\n");

    // The snapshot's folder is missing: said before any scan, no report, no success line.
    auto snapshot = run({"--batch", "--name", "x", "--output-dir", folder.str(), "--save-snapshot",
                         folder.str() + "/missing/x.json"});
    EXPECT_EQ(snapshot.code, kExitScanFailed);
    EXPECT_EQ(snapshot.err, "veltrix: cannot write the snapshot file " + folder.str() +
                                "/missing/x.json: the folder " + folder.str() + "/missing does not exist\n");
    EXPECT_EQ(liveConnections, 0);
    EXPECT_FALSE(std::filesystem::exists(folder / "x.htm"));

    // A snapshot that fails only when written (its name is a folder): the
    // report stays, and the last lines say the snapshot is not saved.
    std::filesystem::create_directories(folder / "taken.json");
    auto late = run({"--batch", "--name", "y", "--output-dir", folder.str(), "--snapshot", example, "--save-snapshot",
                     (folder / "taken.json").string()});
    EXPECT_EQ(late.code, kExitScanFailed);
    EXPECT_EQ(late.err.find("File is saved"), std::string::npos) << late.err;
    EXPECT_NE(late.err.find("veltrix: the report is saved on " + folder.str() + "/y.htm, the snapshot is not\n"),
              std::string::npos)
        << late.err;
}

TEST_F(BatchTest, SavedSnapshotGoesToStandardOutputForDash) {
    auto r = run({"--batch", "--name", "live", "--output-dir", folder.str(), "--save-snapshot", "-"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(r.out.rfind("{\n  \"veltrix-snapshot\": ", 0), 0u) << r.out.substr(0, 80);
    EXPECT_FALSE(std::filesystem::exists("-"));
    EXPECT_NE(r.err.find("File is saved"), std::string::npos);
}

TEST_F(BatchTest, OpenWithoutAViewerSaysWhereTheReportIs) {
    const std::string example = std::string(VELTRIX_EXAMPLES) + "/office-desktop.json";
    FakeOpener opener(folder / "bin", "echo 'xdg-open: no method available for opening' >&2; exit 3");
    auto r = run({"--batch", "--name", "shown", "--output-dir", folder.str(), "--snapshot", example, "--open"});
    EXPECT_EQ(r.code, kExitOk) << r.err;
    EXPECT_EQ(r.err.find("no method available"), std::string::npos) << r.err;  // the opener's own words stay out
    const std::string line = "veltrix: the report could not be opened in a viewer (no viewer is set up for it; "
                             "xdg-open ended with 3); it is at " + folder.str() + "/shown.htm\n";
    EXPECT_NE(r.err.find(line), std::string::npos) << r.err;
    // It comes last, after the line that says the report is saved.
    EXPECT_LT(r.err.find("File is saved"), r.err.find(line));
}

}  // namespace
}  // namespace veltrix
