// Whole batch scans of realistic snapshots, with this group's sections
// compared byte for byte with the expected report text.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "core/locale.h"
#include "core/version.h"
#include "support/file_text.h"
#include "support/fixed_clock_platform.h"
#include "support/temp_folder.h"
#include "ui/console/batch.h"

namespace veltrix {
namespace {

using namespace test;

using test::readFile;

// This group's sections in report order, each cut whole out of the report.
std::string ourSections(const std::string& report) {
    const char* titles[] = {"Veltrixproperties", "Systeminformation", "Motherboard", "CPU",    "Memory",
                            "HDD",               "Removeable Drives", "FDD",         "CDROM",  "Modem",
                            "Keyboard",          "Mouse",             "Battery",     "Operatingsystem"};
    const std::string tableStart = "<table border='0'";
    const std::string tableEnd = "</table><br>\r\n";
    std::string out;
    for (const char* title : titles) {
        auto bar = report.find("<strong>&nbsp;" + std::string(title) + "</strong>");
        if (bar == std::string::npos) continue;
        auto start = report.rfind(tableStart, bar);
        auto end = report.find(tableEnd, bar);
        if (start == std::string::npos || end == std::string::npos) return "unclosed section " + std::string(title);
        out += report.substr(start, end + tableEnd.size() - start);
    }
    return out;
}

std::string scanSnapshot(const std::string& snapshot) {
    TempFolder folder;
    BatchEnvironment environment;
    environment.liveService = []() -> Result<std::shared_ptr<wmi::Service>> {
        return Failure{failure_code::kInvalidArgument, "no live data in tests"};
    };
    environment.makePlatform = [&](const std::string& outputFolder) -> std::unique_ptr<Platform> {
        return std::make_unique<FixedClockPlatform>(outputFolder, folder.str() + "/no-drive/",
                                                    DateTime{2026, 12, 7, 9, 5, 30});
    };
    environment.makeLocale = [] { return std::unique_ptr<Locale>(std::make_unique<EnglishLocale>()); };
    std::string file = std::string(VELTRIX_TEST_DATA) + "/" + snapshot;
    std::string dir = folder.str();
    const char* args[] = {"veltrix", "--batch", "--name", "PC042", "--snapshot", file.c_str(), "--output-dir",
                          dir.c_str()};
    std::FILE* quiet = std::tmpfile();
    int exit = runBatch(8, const_cast<char**>(args), environment, quiet, quiet);
    std::fclose(quiet);
    EXPECT_EQ(exit, kExitOk) << snapshot;
    return readFile(dir + "/PC042.htm");
}

TEST(SnapshotSections, DesktopAndLaptopGiveTheExpectedSections) {
    for (const std::string name : {"desktop-two-disks", "laptop-battery-card-reader"}) {
        std::string report = scanSnapshot(name + ".json");
        // The expected sections name the build's version as {version}, so that a
        // new version number does not rewrite them.
        std::string expected = readFile(std::string(VELTRIX_TEST_DATA) + "/" + name + ".sections.htm");
        expected.replace(expected.find("{version}"), 9, kVersionText);
        EXPECT_EQ(ourSections(report), expected)
            << name;
    }
}

// Captures of real Windows machines (tests/data/windows-real/README.md): each
// scans with no error but for the classes and properties its dump lacks; a
// missing uninstall key lists nothing instead of failing; video memory of
// 2 GiB shows.
TEST(SnapshotSections, RealWindowsMachinesFailOnlyWhereTheirDumpsAreSilent) {
    for (const char* name : {"10-net.json", "2008-Enterprise.json", "7.json", "intel+nvidia.json",
                             "reg-10_russian.json", "xppro2.json"}) {
        SCOPED_TRACE(name);
        const auto dump = nlohmann::json::parse(readFile(std::string(VELTRIX_TEST_DATA) + "/windows-real/" + name));
        const auto& classes = dump["namespaces"]["root\\cimv2"];
        const std::string report = scanSnapshot(std::string("windows-real/") + name);
        ASSERT_NE(report.find("</body></html>"), std::string::npos);
        const std::regex errorRow("class='td1'>Error</td><td width='550' bgcolor='#d9d9d9' class='td1'>([^<]*)&nbsp;");
        for (auto it = std::sregex_iterator(report.begin(), report.end(), errorRow); it != std::sregex_iterator(); ++it) {
            const std::string text = (*it)[1];
            if (text.rfind("Invalid class ", 0) == 0) {
                EXPECT_FALSE(classes.contains(text.substr(14))) << text;
            } else {
                EXPECT_EQ(text.rfind("Not found: the object has no property ", 0), 0u) << text;
            }
        }
        const auto software = report.find("&nbsp;Installed Software</strong>");
        if (software != std::string::npos) {
            EXPECT_EQ(report.find(">Error<", software), report.find(">Error<", report.find("</table><br>", software)))
                << "an Error row in the software list";
        }
    }
    const std::string video = scanSnapshot("windows-real/intel+nvidia.json");
    EXPECT_NE(video.find(">Video-RAM</td><td width='550' bgcolor='#d9d9d9' class='td1'>1024 MB"), std::string::npos);
    EXPECT_NE(video.find(">Video-RAM</td><td width='550' bgcolor='#d9d9d9' class='td1'>2048 MB"), std::string::npos);
    const std::string cyrillic = scanSnapshot("windows-real/reg-10_russian.json");
    EXPECT_NE(cyrillic.find("&nbsp;&#1050;&#1088;&#1080;&#1087;&#1090;&#1086;&#1055;&#1088;&#1086; CSP</td>"),
              std::string::npos);
}

}  // namespace
}  // namespace veltrix
