// The factory file's section is also compared literally, inside a whole
// report, in inventory_batch_test.cpp.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/xattr.h>
#endif

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "sections/collectors.h"
#include "support/fakes.h"
#include "support/temp_folder.h"

namespace veltrix {
namespace {

using namespace test;

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

struct SysBuilderTest : ::testing::Test {
    TempFolder drive;
    NativePlatform platform{drive.str(), drive.str() + "/"};
    ScriptedService service;

    std::string path(const std::string& name) const { return drive.str() + "/" + name; }
    std::string run() {
        ScanFixture fx(service, &platform);
        WriteSysBuilderSection(fx.scan);
        return fx.lines();
    }
    // The DOS attributes that matter here. Wine reports every file as ready
    // for archiving whatever was set, so that bit is left out.
    int attributes(const std::string& file) const {
        auto value = platform.getAttributes(file);
        if (!value) return -1;
#ifdef _WIN32
        return *value & ~0x20;
#else
        return *value;
#endif
    }
    // Whether this file system keeps the DOS attributes at all.
    bool keepsAttributes() {
#ifdef _WIN32
        return true;  // every Windows file system keeps them
#else
        writeFile(drive / "probe", "");
        return ::setxattr(path("probe").c_str(), "user.DOSATTRIB", "0x0", 3, 0) == 0;
#endif
    }
};

TEST_F(SysBuilderTest, CopiesUpToTheMarkerAndLeavesTheFileHidden) {
    writeFile(drive / "868.dat", "Model 868\r\n\r\n<b>bold</b> & more\r\nabc eNd CoPy xyz\r\nnot copied\r\n");
    EXPECT_EQ(run(), headLines(path("868.dat")) + rowLine("", "Model 868") +
                         rowLine("", "&lt;b&gt;bold&lt;/b&gt; & more") + rowLine("", "abc eNd CoPy xyz") + kFootLine);
    if (!keepsAttributes()) GTEST_SKIP() << "this file system keeps no extended attributes";
    EXPECT_EQ(attributes(path("868.dat")), kAttributeHidden);
}

TEST_F(SysBuilderTest, OnlyTheFirstFileIsCopiedAndNoneWritesNothing) {
    EXPECT_EQ(run(), "");
    writeFile(drive / "reclang.txt", "second\n");
    writeFile(drive / "lang.txt", "first\n");
    EXPECT_EQ(run(), headLines(path("lang.txt")) + rowLine("", "first") + kFootLine);
    if (!keepsAttributes()) GTEST_SKIP() << "this file system keeps no extended attributes";
    EXPECT_EQ(attributes(path("reclang.txt")), kAttributeNormal);
    // A hidden file is still found, copied and stays hidden.
    EXPECT_EQ(run(), headLines(path("lang.txt")) + rowLine("", "first") + kFootLine);
    EXPECT_EQ(attributes(path("lang.txt")), kAttributeHidden);
}

TEST_F(SysBuilderTest, BadFilesLoseNoLine) {
    const std::string longLine(1 << 20, 'x');
    // Long lines, bytes outside the code page (0x81 is undefined), no marker,
    // a last line without its end.
    writeFile(drive / "lang.txt", longLine + "\r\n\x80 \x81\xE4\nlast");
    // 0x81 has no character: it reaches the page as a character reference.
    const std::string expected = headLines(path("lang.txt")) + rowLine("", longLine) +
                                 rowLine("", "\x80 &#129;\xE4") + rowLine("", "last") + kFootLine;
    const std::string out = run();
    EXPECT_TRUE(out == expected) << out.substr(out.size() > 400 ? out.size() - 400 : 0);
    writeFile(drive / "lang.txt", "\r\n\r\n\n");
    EXPECT_EQ(run(), headLines(path("lang.txt")) + kFootLine);
}

// A file that exists but fails while it is read.
class FailingReads final : public Platform {
public:
    explicit FailingReads(Platform& real, bool failOpen) : real_(real), failOpen_(failOpen) {}
    std::string programFolder() const override { return real_.programFolder(); }
    std::string pathSeparator() const override { return real_.pathSeparator(); }
    std::string systemDrive() const override { return real_.systemDrive(); }
    bool fileExists(const std::string& p) const override { return real_.fileExists(p); }
    Status createEmptyFile(const std::string& p) override { return real_.createEmptyFile(p); }
    Result<std::unique_ptr<ReportStream>> openReport(const std::string& p, Messages& m) override {
        return real_.openReport(p, m);
    }
    Result<std::unique_ptr<LineReader>> openTextFile(const std::string& p) override {
        if (failOpen_) return Failure{75, "Path/File access error"};
        struct OneLineThenFail final : LineReader {
            int calls = 0;
            Result<std::optional<std::string>> readLine() override {
                if (calls++ == 0) return std::optional<std::string>("kept");
                return Failure{62, "Input past end of file"};
            }
        };
        (void)p;
        return std::unique_ptr<LineReader>(std::make_unique<OneLineThenFail>());
    }
    Result<int> getAttributes(const std::string& p) const override { return real_.getAttributes(p); }
    Status setAttributes(const std::string& p, int a) override { return real_.setAttributes(p, a); }
    Status startProcess(const std::string& p, const std::string& a) override { return real_.startProcess(p, a); }
    Status openWithShell(const std::string& p) override { return real_.openWithShell(p); }
    DateTime now() const override { return real_.now(); }

private:
    Platform& real_;
    bool failOpen_;
};

TEST_F(SysBuilderTest, AnUnreadableFileEndsTheCopyClosesTheTableAndCounts) {
    writeFile(drive / "lang.txt", "x\n");
    writeFile(drive / "reclang.txt", "must not be copied\n");
    for (bool failOpen : {true, false}) {
        FailingReads failing(platform, failOpen);
        ScanFixture fx(service, &failing);
        WriteSysBuilderSection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines(path("lang.txt")) + (failOpen ? "" : rowLine("", "kept")) + kFootLine);
        EXPECT_FALSE(fx.pending.any());
    }
}

TEST_F(SysBuilderTest, DiagnosticsToolStartsWithoutWaitingOrLeavesItsFailurePending) {
    ScanFixture missing(service, &platform);
    RunAtview32(missing.scan);
    EXPECT_TRUE(missing.pending.any());
    EXPECT_EQ(missing.lines(), "");
#ifdef _WIN32
    GTEST_SKIP() << "the stand-in tool below is a shell script";
#endif

    const std::string seen = path("arguments");
    writeFile(drive / "ATVIEW32.exe", "#!/bin/sh\nsleep 1\necho \"$@\" > '" + seen + "'\n");
    std::filesystem::permissions(drive / "ATVIEW32.exe", std::filesystem::perms::owner_all);
    ScanFixture fx(service, &platform);
    RunAtview32(fx.scan);
    EXPECT_FALSE(fx.pending.any());
    EXPECT_FALSE(std::filesystem::exists(seen)) << "the scan does not wait for the tool";
    for (int i = 0; i < 100 && !std::filesystem::exists(seen); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::ifstream in(seen);
    std::string arguments;
    std::getline(in, arguments);
    EXPECT_EQ(arguments, "-scd");
}

}  // namespace
}  // namespace veltrix
