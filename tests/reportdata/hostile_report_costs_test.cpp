// Reports come from anywhere: a page crafted past any real report's size
// must cost what it weighs, and text that is not UTF-8 must never reach the
// model as it is.
#include <gtest/gtest.h>

#include <map>

#include "data/load_input.h"
#include "data/report_export.h"
#include "data/report_reader.h"
#include "report/encoding.h"
#include "support/cost_ratio.h"

namespace veltrix::data {
namespace {

std::string page(const std::string& sectionRows, const std::string& title = "costs.htm") {
    return "<html><head><title>" + title +
           "</title></head><body>\r\n<table><tr><td>VELTRIX Result</td></tr></table>\r\n"
           "<table><tr><td bgcolor='#000000'>Bios</td></tr>\r\n" +
           sectionRows + "</table><br>\r\n</body></html>\r\n";
}

std::string cellPage(const std::string& value) { return page("<tr><td>Name</td><td>" + value + "</td></tr>\r\n"); }

// Reads each prepared page and checks that it was read.
std::function<void(std::size_t)> reading(const std::map<std::size_t, std::string>& pages) {
    return [&pages](std::size_t n) {
        auto report = ParseReport(pages.at(n));
        ASSERT_TRUE(report.ok()) << report.failure().description;
    };
}

bool validUtf8(const std::string& text) { return replaceInvalidUtf8(text) == text; }

TEST(HostileReportCosts, AmpersandsWithoutSemicolonsCostWhatTheyWeigh) {
    constexpr std::size_t kSmall = 64 * 1024, kFactor = 8;
    std::map<std::size_t, std::string> pages;
    for (std::size_t n : {kSmall, kSmall * kFactor}) pages[n] = cellPage(std::string(n, '&'));
    auto report = ParseReport(pages[kSmall]);
    ASSERT_TRUE(report.ok());
    EXPECT_EQ(report->sections.at(0).items.at(0).rows.at(0).value, std::string(kSmall, '&'));
    // A title is decoded by the same code; a semicolon just past the longest
    // reference still leaves the ampersand as it is.
    std::map<std::size_t, std::string> titled;
    for (std::size_t n : {kSmall, kSmall * kFactor}) titled[n] = page("", std::string(n, '&') + ".htm");
    EXPECT_LT(test::wholeToPiecesCost(reading(pages), kSmall, kFactor), 3.0) << "a quadratic step gives about 8";
    EXPECT_LT(test::wholeToPiecesCost(reading(titled), kSmall, kFactor), 3.0);
}

TEST(HostileReportCosts, ReferencesStopAtTheirLongestForm) {
    auto report = ParseReport(cellPage("&#x000000041; &#x0000000041; &amp;&amp &auml;x;&lt;"));
    ASSERT_TRUE(report.ok());
    EXPECT_EQ(report->sections.at(0).items.at(0).rows.at(0).value, "A &#x0000000041; &&amp \xC3\xA4x;<")
        << "twelve characters from the ampersand to the semicolon are a reference, thirteen are text";
}

TEST(HostileReportCosts, ManyErrorRowsCostWhatTheyWeigh) {
    constexpr std::size_t kSmall = 6000, kFactor = 4;
    std::map<std::size_t, std::string> pages;
    for (std::size_t n : {kSmall, kSmall * kFactor}) {
        std::string rows;
        for (std::size_t k = 0; k < n; ++k) {
            rows += "<tr><td>Error</td><td>Generic failure number " + std::to_string(k) +
                    " of the provider&nbsp;</td></tr>\r\n";
        }
        pages[n] = page(rows);
    }
    auto report = ParseReport(pages[kSmall]);
    ASSERT_TRUE(report.ok());
    const std::string& error = *report->sections.at(0).error;
    EXPECT_EQ(error.substr(0, 82),
              "Generic failure number 0 of the provider\nGeneric failure number 1 of the provider\n");
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), static_cast<long>(kSmall - 1));
    EXPECT_LT(test::wholeToPiecesCost(reading(pages), kSmall, kFactor), 2.2) << "a quadratic step gives about 4";
}

// Each of these is a form a strict decoder refuses; a page holding one is
// not UTF-8 and reads as Windows-1252, byte for byte.
TEST(HostileReportCosts, TextThatIsNotUtf8NeverReachesTheModel) {
    const std::map<std::string, std::string> forms = {
        {"a surrogate", "\xED\xB0\x80"},          {"an overlong slash", "\xE0\x80\xAF"},
        {"an overlong four-byte form", "\xF0\x80\x80\xAF"}, {"U+110000", "\xF4\x90\x80\x80"},
        {"a lone continuation byte", "\x80"},
    };
    for (const auto& [what, bytes] : forms) {
        auto report = ParseReport(cellPage("x" + bytes + "y"));
        ASSERT_TRUE(report.ok()) << what;
        const std::string& value = report->sections.at(0).items.at(0).rows.at(0).value;
        EXPECT_EQ(value, decodeCp1252("x" + bytes + "y")) << what;
        EXPECT_TRUE(validUtf8(value)) << what;
        const std::string json = ExportJson({{"costs.htm", *report}});
        EXPECT_TRUE(validUtf8(json)) << what;
    }
    // The largest and the highest forms that are UTF-8 stay as they are.
    auto kept = ParseReport(cellPage("\xED\x9F\xBF \xF4\x8F\xBF\xBF \xC3\xBC"));
    ASSERT_TRUE(kept.ok());
    EXPECT_EQ(kept->sections.at(0).items.at(0).rows.at(0).value, "\xED\x9F\xBF \xF4\x8F\xBF\xBF \xC3\xBC");
    // With the byte-order mark the page says it is UTF-8: what cannot be read is U+FFFD.
    auto marked = ParseReport("\xEF\xBB\xBF" + cellPage("a\xED\xA0\x80z\xC3\xBC"));
    ASSERT_TRUE(marked.ok());
    EXPECT_EQ(marked->sections.at(0).items.at(0).rows.at(0).value,
              "a\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz\xC3\xBC");
}

// A snapshot that loads but whose page would be larger than a report may be
// is refused while the page is written, not after it was built whole: an
// empty processor object, three bytes of the file, writes a row of its own.
TEST(HostileReportCosts, AnInMemoryPageStopsAtItsLimit) {
    auto processors = [](std::size_t n) {
        std::string objects;
        for (std::size_t k = 0; k < n; ++k) objects += k ? ",{}" : "{}";
        return "{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {\"Win32_Processor\": [" + objects +
               "]}}}";
    };
    const DateTime noon{2026, 1, 1, 12, 0, 0};
    auto few = ScanSnapshotToPage(processors(10), "few.json", noon);
    ASSERT_TRUE(few.ok()) << few.failure().description;
    auto within = ScanSnapshotToPage(processors(10), "few.json", noon, EnglishLocale(), few->size());
    ASSERT_TRUE(within.ok()) << "a page of exactly the limit is whole";
    EXPECT_EQ(*within, *few);
    auto many = ScanSnapshotToPage(processors(4000), "many.json", noon, EnglishLocale(), 256 * 1024);
    ASSERT_FALSE(many.ok());
    EXPECT_EQ(many.failure().description,
              "many.json: the report of this snapshot would be larger than 262144 bytes, more than a report may hold");
    auto over = ScanSnapshotToPage(processors(10), "few.json", noon, EnglishLocale(), few->size() - 1);
    EXPECT_FALSE(over.ok()) << "one byte past the limit is too much";
}

}  // namespace
}  // namespace veltrix::data
