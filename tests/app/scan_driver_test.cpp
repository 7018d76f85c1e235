#include "app/scan_driver.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/fakes.h"
#include "support/file_text.h"
#include "support/temp_folder.h"

namespace veltrix {
namespace {

using namespace test;

using test::readFile;

class ScanDriverTest : public ::testing::Test {
protected:
    TempFolder folder;
    NativePlatform platform{folder.str(), (folder / "drive/").string()};
    ScriptedService service;
    RecordingUi ui;
    EnglishLocale locale;
    FixedCheckBoxes boxes{true, true};
    ScanState state{"PC042.htm", ""};

    ScanOutcome run() {
        ScanServices services{ui, platform, service, locale, boxes, false};
        return RunScan(state, services);
    }
};

TEST_F(ScanDriverTest, SuccessWritesEverySectionInOrderAndReportsThePath) {
    platform.createEmptyFile((folder / "PC042.htm").string());
    EXPECT_EQ(run(), ScanOutcome::Saved);
    std::string report = readFile(folder / "PC042.htm");
    EXPECT_EQ(report.rfind("<html><head>\r\n", 0), 0u);
    EXPECT_NE(report.find("&nbsp;Bios</strong>"), std::string::npos);
    EXPECT_EQ(report.substr(report.size() - 36), "</td></tr></table>\r\n</body></html>\r\n");

    const std::string path = folder.str() + platform.pathSeparator() + "PC042.htm";
    ASSERT_GE(ui.calls.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(ui.calls.begin(), ui.calls.begin() + 6),
              (std::vector<std::string>{"closeNameDialog", "setPointer(11)", "progressSetCaption(Veltrix)",
                                        "progressVisiblePicture(16777215,12582912,0)",
                                        "progressSetMessage(Scan is running, please wait...)", "progressShow"}));
    EXPECT_EQ(std::vector<std::string>(ui.calls.end() - 5, ui.calls.end()),
              (std::vector<std::string>{"progressUpdate(100)", "progressUnload", "setPointer(0)",
                                        "messageBox(The file is saved on " + path + ",0,File is saved)",
                                        "unloadMainWindow"}));
}

TEST_F(ScanDriverTest, ProgressFollowsTheStepTable) {
    platform.createEmptyFile((folder / "PC042.htm").string());
    run();
    std::vector<std::string> updates;
    for (const auto& c : ui.calls) {
        if (c.rfind("progressUpdate(", 0) == 0) updates.push_back(c);
    }
    std::vector<std::string> expected;
    for (const ScanStep& step : scanSteps()) {
        if (step.progress >= 0) expected.push_back("progressUpdate(" + std::to_string(step.progress) + ")");
    }
    expected.push_back("progressUpdate(100)");
    EXPECT_EQ(updates, expected);
}

TEST(ScanSteps, FixedOrderAndProgressConstants) {
    std::string table;
    for (const ScanStep& step : scanSteps()) table += std::string(step.name) + ":" + std::to_string(step.progress) + " ";
    EXPECT_EQ(table,
              "RunAtview32:-1 WritePropertiesSection:3 WriteSystemInfoSection:6 WriteMotherboardSection:8 "
              "WriteBiosSection:10 WriteCpuSection:18 WriteMemorySection:20 WriteVgaSection:25 WriteHddSection:30 "
              "WriteRemovableDrivesSection:35 WriteCdromSection:40 WriteModemSection:45 WriteKeyboardSection:50 "
              "WriteMouseSection:54 WriteHidSection:57 WriteMultiMediaSection:59 WriteSecuritySection:64 "
              "WriteBatterySection:66 WriteNetworkSection:67 WriteSlotsSection:70 WriteOsSection:75 "
              "WriteWinSatSection:77 WriteHotfixSection:79 WriteSoftwareSection:82 WritePnpSection:85 "
              "WriteProblemDevicesSection:90 WriteSysBuilderSection:-1 ");
}

TEST_F(ScanDriverTest, MissingFileEndsEarlyWithoutWritingAnything) {
    EXPECT_EQ(run(), ScanOutcome::CouldNotCreate);
    EXPECT_FALSE(std::filesystem::exists(folder / "PC042.htm"));
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Could not create the file..."});
    EXPECT_EQ(ui.calls.back(), "messageBox(Could not create the file...,0,)");
    EXPECT_EQ(std::count(ui.calls.begin(), ui.calls.end(), "unloadMainWindow"), 0);
}

TEST_F(ScanDriverTest, AClosingFailureEndsWithTheErrorMessageAndNoViewer) {
    platform.createEmptyFile((folder / "PC042.htm").string());
    ui.failProgressUnload = Failure{91, "Object variable not set"};
    EXPECT_EQ(run(), ScanOutcome::EndedWithError);
    EXPECT_EQ(ui.messages.back(),
              "An error occured while scanning the system - Object variable not set - Veltrix will be close");
    EXPECT_EQ(ui.calls.back(), "unloadMainWindow");
}

TEST_F(ScanDriverTest, SectionFailuresStayInsideTheReport) {
    service.connectFailure = Failure{462, "unreachable"};
    platform.createEmptyFile((folder / "PC042.htm").string());
    EXPECT_EQ(run(), ScanOutcome::Saved);
    EXPECT_NE(readFile(folder / "PC042.htm").find(">Error</td>"), std::string::npos);
}

TEST_F(ScanDriverTest, AnExistingReportIsOverwritten) {
    std::ofstream(folder / "PC042.htm") << std::string(100000, 'x');
    EXPECT_EQ(run(), ScanOutcome::Saved);
    std::string report = readFile(folder / "PC042.htm");
    EXPECT_EQ(report.find("xxxx"), std::string::npos);
    EXPECT_EQ(report.rfind("<html><head>\r\n", 0), 0u);
}

}  // namespace
}  // namespace veltrix
