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
    EXPECT_EQ(second.scans, 2);
    const OverviewLine& empty = (*lines)[2];
    EXPECT_EQ(empty.machine, "PC-0012");
    EXPECT_EQ(empty.cpu, "");
    EXPECT_EQ(empty.ramTotal, "");
    EXPECT_EQ(empty.programs, 0);
    EXPECT_FALSE(empty.programsCollected);  // no software section: made with --no-software
    EXPECT_TRUE(first.programsCollected);
}

// Each machine shows its serial, how many scans it has and whether it may
// be a clone; a scan that does not say when it was taken says so.
TEST_P(StoreOverview, MachinesShowTheirSerialScansAndFlags) {
    auto store = openStore();
    ASSERT_TRUE(store);
    auto report = [](const std::string& name, int variant, const char* serial, const char* uuid) {
        data::Report r = makeReport(3, variant);
        r.name = name;
        r.machine.enclosureSerial = serial;
        if (uuid) r.machine.uuid = uuid;
        return r;
    };
    data::Report undated = report("undated", 9, "UNDATED-1", nullptr);
    undated.timeKnown = false;
    addAll(*store, {report("old-name", 1, "NRV-7731-0042", nullptr), report("new-name", 2, "NRV-7731-0042", nullptr),
                    report("vm", 3, "VM-A", "4c4c4544-0038-3510-8052-b3c04f4d4a32"),
                    report("vm", 4, "VM-B", "4c4c4544-0038-3510-8052-b3c04f4d4a32"), undated});
    auto lines = readOverview(store->connection());
    ASSERT_TRUE(lines) << lines.failure().description;
    ASSERT_EQ(lines->size(), 4u);
    EXPECT_EQ((*lines)[0].machine, "new-name");
    EXPECT_EQ((*lines)[0].serial, "NRV-7731-0042");
    EXPECT_EQ((*lines)[0].scans, 2);
    EXPECT_EQ((*lines)[0].flags, "");
    EXPECT_EQ((*lines)[1].machine, "undated");
    EXPECT_EQ((*lines)[1].generated, "");
    EXPECT_EQ((*lines)[2].machine, "vm");
    EXPECT_EQ((*lines)[2].flags, "possible clone");
    EXPECT_EQ((*lines)[3].flags, "possible clone");
    const std::string csv = overviewCsv(*lines);
    EXPECT_NE(csv.find("\r\nundated,UNDATED-1,1,unknown,"), std::string::npos) << csv;
}

INSTANTIATE_TEST_SUITE_P(Store, StoreOverview, ::testing::Values("sqlite", "postgresql"), engineName);

OverviewLine hostileLine() {
    return OverviewLine{"PC-<b>1</b>", "01-December-2026 09:01", "M\xC3\xBCller & \"Sohn\"", "Core, i5",
                        "4096 MB", "A\r\nB", "\xE2\x82\xAC OS \xE4\xB8\xAD", 3, "NRV-7731-0042 ", 2, true, ""};
}

TEST(StoreOverviewPage, MachineTextIsEscapedAndEncodedLikeTheReports) {
    std::string page = overviewPage({hostileLine()});
    const std::string cell = "<td bgcolor='#d9d9d9' class='td1'>";
    const std::string oneLine = "<td bgcolor='#d9d9d9' class='td1' nowrap>";
    std::string expectedRow = "<tr>" + cell + "PC-&lt;b&gt;1&lt;/b&gt;&nbsp;</td>" + cell + "NRV-7731-0042 &nbsp;</td>" +
                              cell + "2&nbsp;</td>" + oneLine + "01-December-2026 09:01&nbsp;</td>" + cell +
                              "M\xFCller &amp; &quot;Sohn&quot;&nbsp;</td>" + cell + "Core, i5&nbsp;</td>" + cell +
                              "4096 MB&nbsp;</td>" + cell + "A\r\nB&nbsp;</td>" + cell + "\x80 OS &#20013;&nbsp;</td>" +
                              cell + "3&nbsp;</td>" + cell + "&nbsp;</td></tr>\r\n";
    EXPECT_NE(page.find(expectedRow), std::string::npos) << page;
    EXPECT_NE(page.find("Machines: 1</font>"), std::string::npos);
    EXPECT_TRUE(page.starts_with("<html><head>\r\n"));
    EXPECT_TRUE(page.ends_with("</td></tr></table>\r\n</body></html>\r\n"));
}

TEST(StoreOverviewPage, CsvQuotesWhatNeedsItAndKeepsUtf8) {
    const std::string header =
        "Machine,Serial,Scans,Generated,Maker / Model,CPU,RAM total,Disks,Operating system,Programs,Flags\r\n";
    OverviewLine noSoftware = hostileLine();
    noSoftware.programsCollected = false;
    noSoftware.flags = "possible clone";
    EXPECT_EQ(overviewCsv({hostileLine(), noSoftware}),
              header +
                  "PC-<b>1</b>,NRV-7731-0042 ,2,01-December-2026 09:01,\"M\xC3\xBCller & \"\"Sohn\"\"\",\"Core, i5\","
                  "4096 MB,\"A\r\nB\",\xE2\x82\xAC OS \xE4\xB8\xAD,3,\r\n"
                  "PC-<b>1</b>,NRV-7731-0042 ,2,01-December-2026 09:01,\"M\xC3\xBCller & \"\"Sohn\"\"\",\"Core, i5\","
                  "4096 MB,\"A\r\nB\",\xE2\x82\xAC OS \xE4\xB8\xAD,not collected,possible clone\r\n");
    EXPECT_EQ(overviewCsv({}), header);
}

}  // namespace
}  // namespace veltrix::store::testing
