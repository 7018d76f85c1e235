#include "app/main_window_logic.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <utility>

#include "app/report_name_logic.h"
#include "app/scan_driver.h"
#include "app/window_fakes.h"
#include "support/fakes.h"
#include "support/file_text.h"
#include "support/temp_folder.h"

namespace veltrix {
namespace {

constexpr MainWindowAction kEveryAction[] = {MainWindowAction::CreateReport, MainWindowAction::AddComment,
                                             MainWindowAction::Exit, MainWindowAction::Close};

// A Ui whose first progress update hands control to the user, as a desktop's
// event pump does in the middle of a scan.
class PumpingUi final : public testing::RecordingUi {
public:
    std::function<void()> duringScan;
    Status progressUpdate(std::int32_t percent) override {
        if (auto user = std::exchange(duringScan, nullptr)) user();
        return RecordingUi::progressUpdate(percent);
    }
};

using test::readFile;

class MainWindowLogicTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    test::NativePlatform platform{folder.str(), (folder / "drive/").string()};
    test::ScriptedService service;
    PumpingUi ui;
    EnglishLocale locale;
    FixedCheckBoxes boxes{true, true};
    ScanState state;
    MainWindowLogic logic;

    // The name dialog's OK, wired as both desktops wire it.
    NameConfirmation confirm(std::string_view name) {
        return ConfirmReportName(name, state, platform, ui, [this] {
            logic.runScan([this] {
                ScanServices services{ui, platform, service, locale, boxes, false};
                RunScan(state, services);
            });
        });
    }
};

// "create report" then OK with the same name, Exit, comment and close, as a
// user would press them while the progress window shows: all refused, so
// neither a second scan nor an emptied file reaches the running one.
TEST_F(MainWindowLogicTest, NothingTheUserPressesDuringAScanReachesIt) {
    for (MainWindowAction action : kEveryAction) EXPECT_TRUE(logic.allows(action));
    bool secondScanRan = false;
    ui.duringScan = [&] {
        EXPECT_TRUE(logic.scanning());
        for (MainWindowAction action : kEveryAction) EXPECT_FALSE(logic.allows(action));
        EXPECT_FALSE(logic.runScan([&] { secondScanRan = true; }));
        if (logic.allows(MainWindowAction::CreateReport)) confirm("PC042");
    };
    ASSERT_EQ(confirm("PC042"), NameConfirmation::ScanStarted);
    EXPECT_FALSE(secondScanRan);
    for (MainWindowAction action : kEveryAction) EXPECT_TRUE(logic.allows(action));

    const std::string report = readFile(folder / "PC042.htm");
    EXPECT_EQ(report.rfind("<html><head>\r\n<title>PC042.htm</title>\r\n", 0), 0u);
    EXPECT_EQ(report.find("<html><head>", 1), std::string::npos);  // one head only
    ASSERT_GE(report.size(), 16u);
    EXPECT_EQ(report.substr(report.size() - 16), "</body></html>\r\n");
    EXPECT_EQ(report.find('\0'), std::string::npos);  // no hole from a truncation
}

}  // namespace
}  // namespace veltrix
