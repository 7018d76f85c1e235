// Text that is not valid UTF-8 (firmware strings, old drivers) must read the
// same in a report made live and in one replayed from a recorded snapshot.
#include <gtest/gtest.h>

#include "providers/snapshot/recorder.h"
#include "providers/snapshot/snapshot_source.h"
#include "report/encoding.h"
#include "sections/collectors.h"
#include "support/section_run.h"
#include "wmi/table_service.h"

namespace veltrix {
namespace {

using namespace test;

TEST(ReplayText, InvalidUtf8IsReplacedOnceForEveryByteEverywhere) {
    EXPECT_EQ(replaceInvalidUtf8("\xE6\xAB" "r"), "\xEF\xBF\xBD\xEF\xBF\xBD" "r");
    EXPECT_EQ(encodeCp1252("\xE6\xAB" "r"), "&#65533;&#65533;r");
    // Valid text, a real U+FFFD and four-byte characters are kept.
    const std::string valid = "caf\xC3\xA9 \xEF\xBF\xBD \xF0\x9F\x98\x80";
    EXPECT_EQ(replaceInvalidUtf8(valid), valid);
    // Overlong forms, surrogates and cut sequences count byte by byte, as the
    // report's own decoding does.
    for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF0\x9F\x98", "\xFF"}) {
        EXPECT_EQ(encodeCp1252(replaceInvalidUtf8(bad)), encodeCp1252(bad)) << bad;
    }
}

TEST(ReplayText, ARecordedSnapshotReplaysTheLiveReport) {
    ScriptedService live;
    const std::string query = "Select * from Win32_Bios";
    live.answers[query].objects = {object({{"Manufacturer", text("\xE6\xAB" "r")},
                                           {"Description", text("ok")},
                                           {"SMBIOSBIOSVersion", text("v\xFF")},
                                           {"SerialNumber", text("\xC3")}})};
    live.answers["SELECT * FROM Win32_Bios"] = live.answers[query];
    snapshot::RecordingService recorder(live, "test");
    auto liveRun = runSection(WriteBiosSection, live);
    {
        ScanFixture fx(recorder);
        WriteBiosSection(fx.scan);
    }
    auto replayed = snapshot::SnapshotSource::parse(recorder.toJson(), "recorded");
    ASSERT_TRUE(replayed.ok()) << replayed.failure().description;
    wmi::TableService replay(**replayed);
    ScanFixture fx(replay);
    WriteBiosSection(fx.scan);
    // The report stream has encoded both already.
    EXPECT_EQ(fx.lines(), liveRun.lines);
    EXPECT_NE(liveRun.lines.find("&#65533;&#65533;r&nbsp;"), std::string::npos);
}

}  // namespace
}  // namespace veltrix
