#include "data/report_reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "data/load_input.h"
#include "report/html_writer.h"
#include "report/report_stream.h"
#include "reportdata/report_data_support.h"
#include "support/temp_folder.h"

namespace veltrix::data {
namespace {

using test::TempFolder;

const Section* section(const Report& report, std::string_view title) {
    for (const Section& s : report.sections) {
        if (s.title == title) return &s;
    }
    return nullptr;
}

std::string value(const Item& item, std::string_view label) {
    for (const Row& row : item.rows) {
        if (row.label == label) return row.value;
    }
    return "<none>";
}

class NoMessages final : public Messages {
public:
    void messageBox(std::string_view, MessageStyle, std::string_view) override {}
};

// A page written with the report writer itself, for the layouts no snapshot
// scan produces on this computer (the factory file).
std::string writtenPage(const std::function<void(ReportStream&)>& body, std::string_view comment = {}) {
    NoMessages messages;
    MemoryReportStream out(messages);
    WriteHeader("bench-7.htm", comment, out);
    body(out);
    WriteFooter(out);
    return out.bytes();
}

// The report of a snapshot holds the snapshot's facts: each checked against
// the snapshot file itself, not against what the collectors are known to write.
TEST(ReportReader, ReportOfSnapshotGivesTheSnapshotsFacts) {
    const nlohmann::json snapshot = nlohmann::json::parse(test::readText(test::officeDesktop()));
    const auto& cim = snapshot["namespaces"]["root\\cimv2"];
    auto report = ParseReport(test::officeDesktopPage());
    ASSERT_TRUE(report.ok()) << report.failure().description;

    EXPECT_EQ(report->name, "office-desktop");
    EXPECT_EQ(report->comment, "");
    EXPECT_EQ(report->version, "4.2.2");
    EXPECT_EQ(report->generated, "05-March-2024 14:07");

    const Section* bios = section(*report, "Bios");
    ASSERT_TRUE(bios && bios->items.size() == 1);
    EXPECT_EQ(value(bios->items[0], "Manufacturer"), cim["Win32_BIOS"][0]["Manufacturer"]);
    EXPECT_EQ(value(bios->items[0], "SerialNumber"), cim["Win32_BIOS"][0]["SerialNumber"]);

    const Section* disks = section(*report, "HDD");
    ASSERT_TRUE(disks);
    ASSERT_EQ(disks->items.size(), cim["Win32_DiskDrive"].size());
    EXPECT_EQ(value(disks->items[0], "SerialNumber"), cim["Win32_DiskDrive"][0]["SerialNumber"]);
    EXPECT_FALSE(disks->error);

    const Section* memory = section(*report, "Memory");
    ASSERT_TRUE(memory);
    ASSERT_EQ(memory->items.size(), cim["Win32_PhysicalMemory"].size());
    for (std::size_t k = 0; k < memory->items.size(); ++k) {
        EXPECT_EQ(value(memory->items[k], "BankLabel"), cim["Win32_PhysicalMemory"][k]["BankLabel"]);
        EXPECT_EQ(value(memory->items[k], "Slot"), cim["Win32_PhysicalMemory"][k]["DeviceLocator"]);
    }

    std::set<std::string> hotfixIds, readIds;
    for (const auto& fix : cim["Win32_QuickFixEngineering"]) hotfixIds.insert(fix["HotFixID"].get<std::string>());
    for (const Pair& fix : report->hotfixes) readIds.insert(fix.first);
    EXPECT_EQ(readIds, hotfixIds);

    std::set<std::string> names, readNames;
    for (const auto& [key, values] : snapshot["registry"].items()) {
        if (values.contains("DisplayName")) names.insert(values["DisplayName"].get<std::string>());
    }
    for (const Pair& program : report->software) readNames.insert(program.first);
    EXPECT_EQ(readNames, names);

    ASSERT_EQ(report->slots.size(), cim["Win32_SystemSlot"].size());
    EXPECT_EQ(report->slots[0].tag, cim["Win32_SystemSlot"][0]["Tag"]);
    EXPECT_EQ(report->slots[0].designation, cim["Win32_SystemSlot"][0]["SlotDesignation"]);
    EXPECT_EQ(report->slots[0].usage, cim["Win32_SystemSlot"][0]["currentusage"] == 4 ? "Ja" : "Nein");
    // The paired-table and slot sections are there, their entries only above.
    ASSERT_TRUE(section(*report, "Installed Software"));
    EXPECT_TRUE(section(*report, "Installed Software")->items.empty());
}

// The same page with LF line ends, or saved again by a browser as UTF-8 (byte
// order mark, double quotes, tbody, closed cells, upper-case tags), reads the same.
TEST(ReportReader, LineEndsAndBrowserResavesReadTheSame) {
    const std::string page = test::officeDesktopPage();
    auto original = ParseReport(page);
    ASSERT_TRUE(original.ok());

    std::string lf;
    for (char c : page) {
        if (c != '\r') lf += c;
    }
    auto fromLf = ParseReport(lf);
    ASSERT_TRUE(fromLf.ok()) << fromLf.failure().description;
    EXPECT_EQ(*fromLf, *original);

    std::string resaved = std::regex_replace(lf, std::regex("'"), "\"");
    resaved = std::regex_replace(resaved, std::regex("(<table[^>]*>)"), "$1<TBODY>");
    resaved = std::regex_replace(resaved, std::regex("</strong></font>\n"), "</strong></font></td>\n");
    resaved = "\xEF\xBB\xBF<!DOCTYPE html>" + std::regex_replace(resaved, std::regex("<td"), "<TD");
    auto fromBrowser = ParseReport(resaved);
    ASSERT_TRUE(fromBrowser.ok()) << fromBrowser.failure().description;
    EXPECT_EQ(*fromBrowser, *original);
}

// Values come back as the machine delivered them: markup stays text, entities
// and characters outside Windows-1252 survive the trip through the page.
TEST(ReportReader, HostileAndForeignValuesComeBackAsText) {
    nlohmann::json snapshot = nlohmann::json::parse(test::readText(test::officeDesktop()));
    auto& bios = snapshot["namespaces"]["root\\cimv2"]["Win32_BIOS"][0];
    bios["Manufacturer"] = "<script>alert('x')</script></td></tr></table>";
    bios["Description"] = "Müller & Söhne &amp; \xE6\x97\xA5\xE6\x9C\xAC \xE2\x82\xAC";
    snapshot["registry"]["HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\evil"] = {
        {"DisplayName", "<img src=x onerror=alert(1)>"}, {"DisplayVersion", "1<2"}};
    auto page = ScanSnapshotToPage(snapshot.dump(), "hostile.json", {2024, 3, 5, 14, 7, 9});
    ASSERT_TRUE(page.ok());
    auto report = ParseReport(*page);
    ASSERT_TRUE(report.ok()) << report.failure().description;
    const Section* read = section(*report, "Bios");
    ASSERT_TRUE(read);
    EXPECT_EQ(value(read->items[0], "Manufacturer"), bios["Manufacturer"]);
    // The writer keeps "&" as it is, so a literal "&amp;" reads as "&".
    EXPECT_EQ(value(read->items[0], "Description"), "Müller & Söhne & \xE6\x97\xA5\xE6\x9C\xAC \xE2\x82\xAC");
    bool found = false;
    for (const Pair& program : report->software) {
        if (program.first == "<img src=x onerror=alert(1)>") found = program.second == "1<2";
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(section(*report, "Installed Software")->items.size(), 0u);
}

TEST(ReportReader, ItemsErrorsCommentAndFactoryLines) {
    std::string page = writtenPage(
        [](ReportStream& out) {
            WriteTableHead("CDROM", out);
            WriteRow("Name", "Drive A&nbsp;", out);
            WriteRow("&nbsp;", "&nbsp;", out);
            WriteRow("Name", "Drive B&nbsp;", out);
            WriteRow("Error", "Invalid class&nbsp;", out);
            WriteTableFoot(out);
            WriteTableHead("additional installed hardware", out);
            WriteRow("<b>Name</b>", "<b>Card reader</b>", out);
            WriteRow("Status", "Errorcode:28<p>The drivers for this device are not installed.", out);
            WriteTableFoot(out);
            WriteTableHead("C:\\lang.txt", out);
            WriteRow("", "first line", out);
            WriteRow("", "&nbsp;", out);
            WriteRow("", "End copy", out);
            WriteTableFoot(out);
        },
        "Nach Reparatur &uuml;bergeben &#34;A&#34;");
    auto report = ParseReport(page);
    ASSERT_TRUE(report.ok()) << report.failure().description;
    EXPECT_EQ(report->name, "bench-7");
    EXPECT_EQ(report->comment, "Nach Reparatur übergeben \"A\"");

    const Section* drives = section(*report, "CDROM");
    ASSERT_TRUE(drives);
    ASSERT_EQ(drives->items.size(), 2u);
    EXPECT_EQ(value(drives->items[1], "Name"), "Drive B");
    EXPECT_EQ(drives->error, "Invalid class");

    const Section* problems = section(*report, "additional installed hardware");
    ASSERT_TRUE(problems && problems->items.size() == 1);
    EXPECT_EQ(value(problems->items[0], "Name"), "Card reader");
    EXPECT_EQ(value(problems->items[0], "Status"), "Errorcode:28\nThe drivers for this device are not installed.");

    // A factory line that reads empty is still a line, not a spacer.
    EXPECT_EQ(report->factoryFileLines, (std::vector<std::string>{"first line", "", "End copy"}));
    EXPECT_EQ(section(*report, "C:\\lang.txt")->items.size(), 1u);
}

TEST(ReportReader, PairedTablesWithOddCountsAndStrayRows) {
    // Three programs (filler cell after the third) and the stray "<tr>" an
    // unlisted registry key leaves behind.
    const std::string programs =
        "<table border='0' cellspacing='3' cellpadding='0'><tr valign='top'><td><table border='1' cellspacing='0' "
        "cellpadding='0'><tr><td width='290' align='center'>Description</td><td width='60' "
        "align='center'>Version</td><td width='5' borders='0'></td><td width='290' "
        "align='center'>Description</td><td width='60' align='center'>Version</td></tr><tr><tr>"
        "<td width='290' valign='top'>&nbsp;7-Zip</td><td width='60' valign='top'>&nbsp;23.01</td>"
        "<td width='5' borders='0'></td><td width='290' valign='top'>&nbsp;Notepad++</td>"
        "<td width='60' valign='top'>&nbsp;</td></tr><tr><td width='290' valign='top'>&nbsp;Office</td>"
        "<td width='60' valign='top'>&nbsp;16.0</td><td width='5' borders='0'></td>"
        "<td>&nbsp;</td><td>&nbsp;</td></tr></table></tr></table>";
    std::string page = writtenPage([&](ReportStream& out) {
        WriteTableHead("Installed Software", out);
        WriteRow("&nbsp;", programs, out);
        WriteTableFoot(out);
    });
    auto report = ParseReport(page);
    ASSERT_TRUE(report.ok()) << report.failure().description;
    EXPECT_EQ(report->software, (std::vector<Pair>{{"7-Zip", "23.01"}, {"Notepad++", ""}, {"Office", "16.0"}}));
    EXPECT_TRUE(report->hotfixes.empty());
}

TEST(ReportReader, BadInputIsAClearFailure) {
    TempFolder folder;
    auto missing = ReadReportFile((folder / "gone.htm").string());
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.failure().description.find("gone.htm"), std::string::npos);

    auto other = ParseReport("<html><head><title>x</title></head><body><table><tr><td>hi</td></tr></table></body></html>");
    ASSERT_FALSE(other.ok());
    EXPECT_NE(other.failure().description.find("not a Veltrix report"), std::string::npos);
    EXPECT_FALSE(ParseReport("").ok());
    EXPECT_FALSE(ParseReport("{\"veltrix-snapshot\": 1}").ok());

    const std::string page = test::officeDesktopPage();
    for (std::size_t cut : {page.size() / 2, page.size() - 20, std::size_t{1200}}) {
        auto truncated = ParseReport(page.substr(0, cut));
        ASSERT_FALSE(truncated.ok()) << cut;
        EXPECT_NE(truncated.failure().description.find("truncated"), std::string::npos) << cut;
    }
}

// Nesting, unclosed tags and endless references end in a failure or a
// report, never a crash or a hang.
TEST(ReportReader, HostilePagesAreRefusedSafely) {
    const std::string page = test::officeDesktopPage();
    const std::size_t body = page.find("<table border='0' cellpadding='2'");
    std::string deep = page.substr(0, body);
    for (int k = 0; k < 200000; ++k) deep += "<table><tr><td>";
    deep += "</body></html>";
    auto nested = ParseReport(deep);
    ASSERT_FALSE(nested.ok());
    EXPECT_NE(nested.failure().description.find("nested deeper"), std::string::npos);

    for (std::string tail : {"<td width='", "<!-- never closed", "<title>", "&#99999999999999;&#xD800;&#;&"}) {
        std::string cut = page.substr(0, body) + tail;
        EXPECT_FALSE(ParseReport(cut).ok()) << tail;
    }
    std::string references = page;
    references.insert(body, "<tr><td>&#99999999999999;&#xD800;&#0;&bogus;&</td></tr>");
    EXPECT_TRUE(ParseReport(references).ok());
}

}  // namespace
}  // namespace veltrix::data

namespace veltrix::data {
namespace {

// A report file and the snapshot it came from load to the same model; what
// decides is the content, not the file name.
TEST(LoadInput, ReportFileAndSnapshotLoadAlike) {
    test::TempFolder folder;
    const std::string report = (folder / "office.json").string();  // a report, misnamed
    const std::string snapshot = (folder / "office.htm").string();  // a snapshot, misnamed
    test::writeText(report, test::officeDesktopPage());
    test::writeText(snapshot, test::readText(test::officeDesktop()));
    auto fromReport = LoadInput(report);
    auto fromSnapshot = LoadInput(snapshot);
    ASSERT_TRUE(fromReport.ok()) << fromReport.failure().description;
    ASSERT_TRUE(fromSnapshot.ok()) << fromSnapshot.failure().description;
    EXPECT_EQ(fromSnapshot->name, "office");
    Report a = *fromReport, b = *fromSnapshot;
    EXPECT_FALSE(b.timeKnown);  // this snapshot does not say when it was taken
    b.timeKnown = true;
    a.name = b.name = "";
    a.generated = b.generated = "";
    for (Report* r : {&a, &b}) r->sections.front().items.front().rows.pop_back();  // the scan time row
    EXPECT_EQ(a, b);

    test::writeText(snapshot, "{\"veltrix-snapshot\": 7}");
    auto refused = LoadInput(snapshot);
    ASSERT_FALSE(refused.ok());
    EXPECT_NE(refused.failure().description.find("office.htm"), std::string::npos);
}

}  // namespace
}  // namespace veltrix::data
