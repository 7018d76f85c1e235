// The fleet overview on both engines: one line per machine from its newest
// scan, and the page and CSV forms of it.
#include "store_fixture.h"

#include "store/fleet_overview.h"

namespace veltrix::store::testing {
namespace {

using StoreOverview = StoreTest;

TEST_P(StoreOverview, OneLinePerMachineFromItsNewestScan) {
    auto store = openStore();
    ASSERT_TRUE(store);
    data::Report bare = makeReport(12);
    bare.sections.clear();  // a scan that found nothing at all
    bare.software.clear();
    addAll(*store, {makeReport(2, 1), makeReport(1), makeReport(2, 5), bare});

    auto lines = readOverview(store->connection());
    ASSERT_TRUE(lines) << lines.failure().description;
    ASSERT_EQ(lines->size(), 3u);
    const OverviewLine& first = (*lines)[0];
    EXPECT_EQ(first.machine, "PC-0001");
    EXPECT_EQ(first.generated, "01-December-2026 09:01");
    EXPECT_EQ(first.makerModel, "Norvane / Office 7001");
    EXPECT_EQ(first.cpu, "2 x Core i5-12500");
    EXPECT_EQ(first.ramTotal, "6144 MB");
    EXPECT_EQ(first.disks, "ST31000524AS (932 GB); Samsung SSD 860 v0 (477 GB)");
    EXPECT_EQ(first.os, "Microsoft Windows 10 Pro");
    EXPECT_EQ(first.programs, 4);
    const OverviewLine& second = (*lines)[1];
    EXPECT_EQ(second.machine, "PC-0002");
    EXPECT_EQ(second.generated, "06-December-2026 10:02");
    EXPECT_EQ(second.disks, "ST31000524AS (932 GB); Samsung SSD 860 v5 (477 GB)");
    EXPECT_EQ(second.ramTotal, "10240 MB");
    const OverviewLine& empty = (*lines)[2];
    EXPECT_EQ(empty.machine, "PC-0012");
    EXPECT_EQ(empty.cpu, "");
    EXPECT_EQ(empty.ramTotal, "");
    EXPECT_EQ(empty.programs, 0);
}

INSTANTIATE_TEST_SUITE_P(Store, StoreOverview, ::testing::Values("sqlite", "postgresql"), engineName);

OverviewLine hostileLine() {
    return OverviewLine{"PC-<b>1</b>", "01-December-2026 09:01", "M\xC3\xBCller & \"Sohn\"", "Core, i5",
                        "4096 MB", "A\r\nB", "\xE2\x82\xAC OS \xE4\xB8\xAD", 3};
}

TEST(StoreOverviewPage, MachineTextIsEscapedAndEncodedLikeTheReports) {
    std::string page = overviewPage({hostileLine()});
    const std::string cell = "<td bgcolor='#d9d9d9' class='td1'>";
    std::string expectedRow = "<tr>" + cell + "PC-&lt;b&gt;1&lt;/b&gt;&nbsp;</td>" + cell +
                              "01-December-2026 09:01&nbsp;</td>" + cell + "M\xFCller &amp; &quot;Sohn&quot;&nbsp;</td>" +
                              cell + "Core, i5&nbsp;</td>" + cell + "4096 MB&nbsp;</td>" + cell + "A\r\nB&nbsp;</td>" +
                              cell + "\x80 OS &#20013;&nbsp;</td>" + cell + "3&nbsp;</td></tr>\r\n";
    EXPECT_NE(page.find(expectedRow), std::string::npos) << page;
    EXPECT_NE(page.find("Machines: 1</font>"), std::string::npos);
    EXPECT_TRUE(page.starts_with("<html><head>\r\n"));
    EXPECT_TRUE(page.ends_with("</td></tr></table>\r\n</body></html>\r\n"));
}

TEST(StoreOverviewPage, CsvQuotesWhatNeedsItAndKeepsUtf8) {
    EXPECT_EQ(overviewCsv({hostileLine()}),
              "Machine,Generated,Maker / Model,CPU,RAM total,Disks,Operating system,Programs\r\n"
              "PC-<b>1</b>,01-December-2026 09:01,\"M\xC3\xBCller & \"\"Sohn\"\"\",\"Core, i5\",4096 MB,"
              "\"A\r\nB\",\xE2\x82\xAC OS \xE4\xB8\xAD,3\r\n");
    EXPECT_EQ(overviewCsv({}), "Machine,Generated,Maker / Model,CPU,RAM total,Disks,Operating system,Programs\r\n");
}

}  // namespace
}  // namespace veltrix::store::testing
