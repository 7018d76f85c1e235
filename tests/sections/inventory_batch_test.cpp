// The hotfix, software and factory-file sections of a whole batch scan over a
// realistic snapshot, compared with literal text.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "ui/console/batch.h"
#include "support/native_platform.h"
#include "support/temp_folder.h"

namespace veltrix {
namespace {

using test::TempFolder;

struct InventoryBatch : ::testing::Test {
    TempFolder output, drive;

    // The written report with CR LF turned into "\n".
    std::string scan(std::vector<std::string> extra = {}) {
        BatchEnvironment environment;
        environment.liveService = [] {
            return Result<std::shared_ptr<wmi::Service>>(Failure{1, "no live data in tests"});
        };
        environment.makePlatform = [&](const std::string& folder) -> std::unique_ptr<Platform> {
            return std::make_unique<test::NativePlatform>(folder, drive.str() + "/");
        };
        environment.makeLocale = []() -> std::unique_ptr<Locale> { return std::make_unique<EnglishLocale>(); };
        std::vector<std::string> args = {"veltrix",    "--batch", "--name", "PC042", "--snapshot",
                                         VELTRIX_TEST_DATA "/inventory_64bit.json", "--output-dir", output.str()};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        std::FILE* quiet = std::tmpfile();
        EXPECT_EQ(runBatch(static_cast<int>(argv.size()), argv.data(), environment, quiet, quiet), kExitOk);
        std::fclose(quiet);
        std::ifstream in(output / "PC042.htm", std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        std::string text;
        for (char c : bytes.str()) {
            if (c != '\r') text += c;
        }
        return text;
    }
};

// From the head of the section titled `title` to its foot; empty when absent.
std::string section(const std::string& report, const std::string& title) {
    std::size_t bar = report.find("<strong>&nbsp;" + title + "</strong>");
    if (bar == std::string::npos) return "";
    std::size_t start = report.rfind("<table border='0' cellpadding='2'", bar);
    std::size_t end = report.find("</table><br>\n", bar);
    return report.substr(start, end + 13 - start);
}

const std::string kHead = "<table border='0' cellpadding='2' cellspacing='0' style='border-collapse:collapse'>\n"
                          "<tr><td bgcolor='#000000' class='td1'><font face='Arial' color='#ffffff' ><strong>&nbsp;";
const std::string kListRow = "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>&nbsp;</td><td width='550' "
                             "bgcolor='#d9d9d9' class='td1'><table border='0' cellspacing='3' cellpadding='0'>"
                             "<tr valign='top'><td><table border='1' cellspacing='0' cellpadding='0'><tr>"
                             "<td width='290' align='center'>Description</td>";

TEST_F(InventoryBatch, UpdatesSoftwareAndFactoryFileLiteral) {
    std::ofstream(drive / "lang.txt", std::ios::binary)
        << "Factory image 868-42\r\nLanguage: DE <de-DE>\r\n\r\nEnd copy\r\nnot copied\r\n";
    const std::string report = scan();

    EXPECT_EQ(section(report, "Hotfix"),
              kHead + "Hotfix</strong></td></tr>\n" + kListRow +
                  "<td width='60' align='center'>Hotfix ID</td><td width='5' borders='0'></td>"
                  "<td width='290' align='center'>Description</td><td width='60' align='center'>Hotfix ID</td></tr>"
                  "<tr><td width='290' valign='top'>&nbsp;Security Update</td><td width='60' valign='top'>"
                  "&nbsp;KB5034441</td><td width='5' borders='0'></td>"
                  "<td width='290' valign='top'>&nbsp;no Entry</td><td width='60' valign='top'>&nbsp;KB5011048</td>"
                  "</tr><tr><td width='290' valign='top'>&nbsp;Update</td><td width='60' valign='top'>"
                  "&nbsp;KB5033052</td><td width='5' borders='0'></td>"
                  "<td width='290' valign='top'>&nbsp;Security Update</td><td width='60' valign='top'>"
                  "&nbsp;KB5032907</td></tr>"
                  "<tr><td width='290' valign='top'>&nbsp;Update &lt;Removal Tool&gt; & Scan</td>"
                  "<td width='60' valign='top'>&nbsp;KB890830</td><td width='5' borders='0'></td>"
                  "<td>&nbsp;</td><td>&nbsp;</td></tr></table></tr></table></td></tr>\n"
                  "</table><br>\n");

    EXPECT_EQ(section(report, "Installed Software"),
              kHead + "Installed Software</strong></td></tr>\n" + kListRow +
                  "<td width='60' align='center'>Version</td><td width='5' borders='0'></td>"
                  "<td width='290' align='center'>Description</td><td width='60' align='center'>Version</td></tr>"
                  "<tr><td width='290' valign='top'>&nbsp;7-Zip 23.01 (x64)</td><td width='60' valign='top'>"
                  "&nbsp;23.01</td><td width='5' borders='0'></td>"
                  "<td width='290' valign='top'>&nbsp;Visual Runtime 2015-2022 (x64) - 14.38.33130</td>"
                  "<td width='60' valign='top'>&nbsp;14.38.33130.0</td></tr>"
                  "<tr><td width='290' valign='top'>&nbsp;Tom & Jerry's Tools &lt;Beta&gt;</td>"
                  "<td width='60' valign='top'>&nbsp;2.0</td><td width='5' borders='0'></td>"
                  "<td width='290' valign='top'>&nbsp;Contoso Agent (managed)</td><td width='60' valign='top'>"
                  "&nbsp;</td></tr>"
                  // No version and no quiet name: listed under its display name.
                  "<tr><td width='290' valign='top'>&nbsp;Orphan Tool</td><td width='60' valign='top'>&nbsp;</td>"
                  "<td width='5' borders='0'></td>"
                  "<td width='290' valign='top'>&nbsp;Notepad++ (32-bit x86)</td><td width='60' valign='top'>"
                  "&nbsp;8.6.2</td></tr>"
                  "<tr><td width='290' valign='top'>&nbsp;Runtime Environment 8 Update 401</td>"
                  "<td width='60' valign='top'>&nbsp;8.0.4010.10</td><td width='5' borders='0'></td>"
                  "<td>&nbsp;</td><td>&nbsp;</td></tr>"
                  "</table></tr></table></td></tr>\n"
                  "</table><br>\n");

    const std::string factory = drive.str() + "/lang.txt";
    const std::string cell = "<tr><td width='150' bgcolor='#d9d9d9' class='td1'></td><td width='550' "
                             "bgcolor='#d9d9d9' class='td1'>";
    const std::string expected = kHead + factory + "</strong></td></tr>\n" + cell + "Factory image 868-42</td></tr>\n" +
                                 cell + "Language: DE &lt;de-DE&gt;</td></tr>\n" + cell + "End copy</td></tr>\n" +
                                 "</table><br>\n";
    EXPECT_EQ(section(report, factory), expected);
    const std::string footer = "</td></tr></table>\n</body></html>\n";
    ASSERT_GE(report.size(), expected.size() + footer.size());
    EXPECT_EQ(report.substr(report.size() - expected.size() - footer.size()), expected + footer)
        << "the factory file is the last section";
}

TEST_F(InventoryBatch, UntickedInventoriesAreLeftOut) {
    const std::string report = scan({"--no-hotfix", "--no-software"});
    EXPECT_NE(section(report, "Bios"), "");
    EXPECT_EQ(section(report, "Hotfix"), "");
    EXPECT_EQ(section(report, "Installed Software"), "");
}

}  // namespace
}  // namespace veltrix
