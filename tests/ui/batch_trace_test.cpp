// --trace: one "wmi: " line per data-source operation on the batch's error
// stream, for that run only.
#include <gtest/gtest.h>

#include <cstdio>

#include "core/trace.h"
#include "core/locale.h"
#include "support/native_platform.h"
#include "support/temp_folder.h"
#include "ui/console/batch.h"

namespace veltrix {
namespace {

std::string scanInventory(bool traced) {
    test::TempFolder folder;
    BatchEnvironment environment;
    environment.liveService = []() -> Result<std::shared_ptr<wmi::Service>> {
        return Failure{1, "no live data in tests"};
    };
    environment.makePlatform = [&](const std::string& out) -> std::unique_ptr<Platform> {
        return std::make_unique<test::NativePlatform>(out, (folder / "drive/").string());
    };
    environment.makeLocale = []() -> std::unique_ptr<Locale> { return std::make_unique<EnglishLocale>(); };
    std::vector<std::string> args = {"veltrix", "--batch", "--name", "PC042", "--snapshot",
                                     std::string(VELTRIX_TEST_DATA) + "/inventory_64bit.json", "--output-dir",
                                     folder.str()};
    if (traced) args.push_back("--trace");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(runBatch(static_cast<int>(argv.size()), argv.data(), environment, out, err), kExitOk);
    std::string messages;
    std::rewind(err);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, err)) > 0) messages.append(buffer, n);
    std::fclose(out);
    std::fclose(err);
    return messages;
}

TEST(BatchTrace, SaysWhichClassAndRegistryKeyAnsweredOnlyWhenAsked) {
    std::string traced = scanInventory(true);
    EXPECT_NE(traced.find("wmi: query \"Select * from Win32_Bios\": answered by class Win32_Bios in root\\cimv2 "
                          "(1 instance)\n"),
              std::string::npos)
        << traced;
    EXPECT_NE(traced.find("wmi: query \"Select * from Win32_Processor\": class Win32_Processor failed: "),
              std::string::npos);
    EXPECT_NE(traced.find("wmi: registry EnumKey Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"),
              std::string::npos);
    EXPECT_FALSE(trace::enabled());  // the run's sink is gone with the run

    std::string quiet = scanInventory(false);
    EXPECT_EQ(quiet.find("wmi: "), std::string::npos) << quiet;
}

}  // namespace
}  // namespace veltrix
