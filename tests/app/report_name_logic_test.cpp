#include "app/report_name_logic.h"

#include <gtest/gtest.h>

#include "app/window_fakes.h"

namespace veltrix {
namespace {

using testing::EnclosureService;
using testing::MemoryPlatform;
using testing::RecordingUi;
using wmi::Value;

TEST(NameKeyFilter, SwallowsExactlyTheTenCharacters) {
    for (char32_t c : {U'"', U'\\', U'/', U':', U'*', U'?', U'<', U'>', U'|', U' '})
        EXPECT_TRUE(IsRefusedNameCharacter(c)) << static_cast<int>(c);
    for (char32_t c : {U'a', U'Z', U'0', U'.', U'-', U'_', U'\'', U'\b', U'\t', U'\u00FC', U'\uFF0F'})
        EXPECT_FALSE(IsRefusedNameCharacter(c)) << static_cast<int>(c);
}

TEST(NameKeyFilter, PastedTextLosesRefusedCharactersOnly) {
    EXPECT_EQ(FilterNameText("../../etc/passwd"), "....etcpasswd");
    EXPECT_EQ(FilterNameText("C:\\Temp\\PC 042"), "CTempPC042");
    EXPECT_EQ(FilterNameText("\"a*b?c<d>e|f\""), "abcdef");
    EXPECT_EQ(FilterNameText("Prüfung-1.2"), "Prüfung-1.2");  // multi-byte characters survive
    EXPECT_EQ(FilterNameText(""), "");
    EXPECT_EQ(FilterNameText("   "), "");
}

TEST(NameKeyFilter, PastedAndProposedNamesLoseControlCharacters) {
    // Typed control keys (backspace) pass the key filter above; pasted ones
    // would split the title line or cut the file name.
    EXPECT_EQ(FilterNameText(std::string("a\nb\r\tc\0d\x7f", 9)), "abcd");
    EnclosureService wmi;
    wmi.serials = {Value::text("SN\n12\x1b")};
    EXPECT_EQ(ProposeReportName(wmi), "SN12");
}

TEST(NameProposal, AsksForTheEnclosureSerial) {
    EnclosureService wmi;
    wmi.serials = {Value::text("X1")};
    EXPECT_EQ(ProposeReportName(wmi), "X1");
    EXPECT_EQ(wmi.lastMoniker, wmi::kWmiMoniker);
    EXPECT_EQ(wmi.lastQuery, "SELECT SerialNumber FROM Win32_SystemEnclosure");
    EXPECT_EQ(wmi.lastLanguage, "WQL");
    EXPECT_EQ(wmi.lastFlags, 48);
}

TEST(NameProposal, TrimsBlanksAndLastSerialWins) {
    EnclosureService wmi;
    wmi.serials = {Value::text("  PF0ABC12  ")};
    EXPECT_EQ(ProposeReportName(wmi), "PF0ABC12");

    wmi.serials = {Value::text("FIRST"), Value::null(), Value::text(" SECOND"), Value::text("")};
    EXPECT_EQ(ProposeReportName(wmi), "SECOND");

    wmi.serials = {Value::text("    ")};  // blanks only: an empty field
    EXPECT_EQ(ProposeReportName(wmi), "");

    wmi.serials = {Value::null(), Value::text("LATE")};
    EXPECT_EQ(ProposeReportName(wmi), "LATE");

    wmi.serials = {Value::int32(4711)};  // a number is taken as its text
    EXPECT_EQ(ProposeReportName(wmi), "4711");
}

TEST(NameProposal, EnclosuresWithoutSerialEmptyTheField) {
    EnclosureService wmi;
    wmi.serials = {Value::null()};
    EXPECT_EQ(ProposeReportName(wmi), "");
}

TEST(NameProposal, LeavesTheFieldAloneWithoutEnclosuresOrOnFailure) {
    EnclosureService none;
    EXPECT_EQ(ProposeReportName(none), std::nullopt);

    EnclosureService unreachable;
    unreachable.serials = {Value::text("X")};
    unreachable.connectFailure = Failure{462, "The remote server machine does not exist"};
    EXPECT_EQ(ProposeReportName(unreachable), std::nullopt);

    EnclosureService badQuery;
    badQuery.serials = {Value::text("X")};
    badQuery.queryFailure = Failure{failure_code::kInvalidClass, "Invalid class"};
    EXPECT_EQ(ProposeReportName(badQuery), std::nullopt);
}

TEST(NameProposal, AFailingWalkKeepsWhatWasAlreadyProposed) {
    EnclosureService wmi;
    wmi.serials = {Value::text("A"), Value::text("B")};
    wmi.failAtStep = 1;
    EXPECT_EQ(ProposeReportName(wmi), "A");
    wmi.failAtStep = 0;
    EXPECT_EQ(ProposeReportName(wmi), std::nullopt);
}

TEST(NameProposal, PathCharactersInASerialAreDropped) {
    EnclosureService wmi;
    wmi.serials = {Value::text(" ../x\\y:z ")};
    EXPECT_EQ(ProposeReportName(wmi), "..xyz");
    wmi.serials = {Value::text("To be filled")};  // blanks inside stay, as firmware wrote them
    EXPECT_EQ(ProposeReportName(wmi), "To be filled");
}

TEST(NameConfirm, EmptyNameIsRefusedWithTheGermanMessage) {
    ScanState state{"old.htm", ""};
    MemoryPlatform platform;
    RecordingUi ui;
    bool scanned = false;
    EXPECT_EQ(ConfirmReportName("", state, platform, ui, [&] { scanned = true; }), NameConfirmation::Refused);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Bitte das Feld Bezeichnung ausf\xC3\xBCllen");
    EXPECT_EQ(ui.messages[0].style, MessageStyle::Critical);
    EXPECT_EQ(ui.messages[0].title, "");
    EXPECT_FALSE(scanned);
    EXPECT_TRUE(platform.created.empty());
    EXPECT_EQ(state.reportName, "old.htm");
}

TEST(NameConfirm, StoresTheNameCreatesTheFileThenScans) {
    ScanState state;
    MemoryPlatform platform;
    RecordingUi ui;
    std::vector<std::string> createdWhenScanning;
    EXPECT_EQ(ConfirmReportName("abc", state, platform, ui, [&] { createdWhenScanning = platform.created; }),
              NameConfirmation::ScanStarted);
    EXPECT_EQ(state.reportName, "abc.htm");
    EXPECT_EQ(createdWhenScanning, std::vector<std::string>{"/opt/veltrix/abc.htm"});
    EXPECT_TRUE(ui.messages.empty());
}

TEST(NameConfirm, AFileThatCannotBeCreatedStillReachesTheScan) {
    ScanState state;
    MemoryPlatform platform;
    platform.refuseCreate = true;
    RecordingUi ui;
    bool scanned = false;
    ConfirmReportName("PC042", state, platform, ui, [&] { scanned = true; });
    EXPECT_TRUE(scanned);  // the scan's existence test reports it
    EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
}  // namespace veltrix
