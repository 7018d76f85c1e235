// Each stored scan keeps what changed since its machine's scan before it:
// a replaced disk, an upgraded program. Loading scans out of order leaves
// both neighbours of a late scan right, and a scan read back from its rows
// is the report that was stored.
#include "store_fixture.h"
#include "store/scan_changes.h"
#include "store/stored_report.h"

namespace veltrix::store::testing {
namespace {

class StoreChanges : public StoreTest {
protected:
    // The changes stored for the scan with this comment, as "kind section: caption".
    std::vector<std::string> changesOf(const std::string& comment) {
        std::vector<std::string> lines;
        auto raw = connect();
        Status status = raw->query(
            "SELECT c.kind, c.section, c.caption FROM scan_changes c JOIN scans s ON s.id = c.scan_id "
            "WHERE s.comment = ? ORDER BY c.id",
            {std::string_view(comment)}, [&](const SqlRow& row) {
                lines.push_back(std::string(row.text(0).value_or("")) + " " + std::string(row.text(1).value_or("")) +
                                ": " + std::string(row.text(2).value_or("")));
            });
        EXPECT_TRUE(status.ok()) << status.failure.description;
        return lines;
    }
};

// One PC three times: as bought, with its second disk replaced, with 7-Zip upgraded.
std::vector<data::Report> threeScans() {
    data::Report bought = makeReport(5);
    bought.software = {{"7-Zip 23.01 (x64)", "23.01"}, {"Mozilla Firefox", "121.0"}};
    bought.takenAt = "2026-11-01T08:00:00Z";
    bought.comment = "bought";
    data::Report disk = bought;
    for (auto& item : disk.sections[5].items) {
        for (auto& row : item.rows) {
            if (row.value == "Samsung SSD 860 v0") row.value = "WD Blue SN580 1TB";
        }
    }
    disk.takenAt = "2026-11-15T08:00:00Z";
    disk.comment = "disk";
    data::Report upgraded = disk;
    upgraded.software[0] = {"7-Zip 24.08 (x64)", "24.08"};
    upgraded.takenAt = "2026-12-01T08:00:00Z";
    upgraded.comment = "upgraded";
    return {bought, disk, upgraded};
}

const std::vector<std::string> kDiskReplaced = {"removed HDD: disk1 [Samsung SSD 860 v0]",
                                               "added HDD: disk1 [WD Blue SN580 1TB]"};
const std::string kUpgrade = "upgraded Installed Software: 7-Zip 23.01 (x64) 23.01 \xE2\x86\x92 7-Zip 24.08 (x64) 24.08";

TEST_P(StoreChanges, EachScanKeepsWhatChangedSinceTheOneBeforeWhateverTheLoadOrder) {
    const auto scans = threeScans();
    auto store = openStore();
    ASSERT_TRUE(store);
    // The newest first, then the oldest: the newest's changes are against the oldest.
    addAll(*store, {scans[2], scans[0]});
    EXPECT_TRUE(changesOf("bought").empty());
    std::vector<std::string> both = kDiskReplaced;
    both.push_back(kUpgrade);
    EXPECT_EQ(changesOf("upgraded"), both);

    // The middle one arrives last: both neighbours are right again.
    addAll(*store, {scans[1]});
    EXPECT_TRUE(changesOf("bought").empty());
    EXPECT_EQ(changesOf("disk"), kDiskReplaced);
    EXPECT_EQ(changesOf("upgraded"), std::vector<std::string>{kUpgrade});
    EXPECT_EQ(count("SELECT COUNT(*) FROM scan_changes"), 3);

    // A scan loaded again changes nothing.
    addAll(*store, {scans[1]});
    EXPECT_EQ(count("SELECT COUNT(*) FROM scan_changes"), 3);

    // A later scan made without the software inventory has removed no program.
    data::Report withoutSoftware = scans[2];
    std::erase_if(withoutSoftware.sections, [](const data::Section& s) { return s.title == "Installed Software"; });
    withoutSoftware.software.clear();
    withoutSoftware.takenAt = "2026-12-05T08:00:00Z";
    withoutSoftware.comment = "no software";
    addAll(*store, {withoutSoftware});
    EXPECT_TRUE(changesOf("no software").empty());
}

TEST_P(StoreChanges, AStoredScanReadsBackAsTheReportThatWasStored) {
    data::Report report = makeReport(3, 2);
    report.sections[4].error = "first error\nsecond error";  // Memory, after its items
    auto store = openStore();
    ASSERT_TRUE(store);
    addAll(*store, {report});
    auto id = queryValue(store->connection(), "SELECT id FROM scans");
    ASSERT_TRUE(id && *id);
    auto stored = ReadStoredReport(store->connection(), std::stoll(**id));
    ASSERT_TRUE(stored && *stored);
    const data::Report& back = **stored;
    EXPECT_TRUE(data::CompareReports(report, back).same());
    EXPECT_EQ(back.name, report.name);
    EXPECT_EQ(back.comment, report.comment);
    EXPECT_EQ(back.sections[4].error, report.sections[4].error);
    EXPECT_EQ(back.software, report.software);
    EXPECT_EQ(back.hotfixes.size(), 2u);
    auto missing = ReadStoredReport(store->connection(), 999);
    ASSERT_TRUE(missing);
    EXPECT_FALSE(*missing);
}

INSTANTIATE_TEST_SUITE_P(Store, StoreChanges, ::testing::Values("sqlite", "postgresql"), engineName);

}  // namespace
}  // namespace veltrix::store::testing
