// The software and video sections over whole snapshots of machine shapes
// that used to lose data: programs registered without a version, a 64-bit
// system without a Wow6432Node uninstall key, video cards of 2 GiB and more.
#include <gtest/gtest.h>

#include "providers/snapshot/snapshot_source.h"
#include "sections/collectors.h"
#include "support/fakes.h"
#include "wmi/table_service.h"

namespace veltrix {
namespace {

using namespace test;

std::string sectionsOf(const std::string& file, void (*write)(ScanContext&)) {
    auto source = snapshot::SnapshotSource::load(std::string(VELTRIX_TEST_DATA) + "/" + file);
    if (!source) {
        ADD_FAILURE() << source.failure().description;
        return {};
    }
    wmi::TableService service(**source);
    ScanFixture fx(service);
    write(fx.scan);
    EXPECT_FALSE(fx.pending.any()) << fx.pending.failure().description;
    return fx.lines();
}

std::string entry(const std::string& name, const std::string& version) {
    return "<td width='290' valign='top'>&nbsp;" + name + "</td><td width='60' valign='top'>&nbsp;" + version +
           "</td>";
}
const std::string kGap = "<td width='5' borders='0'></td>";

TEST(SoftwareSnapshots, ProgramsWithoutVersionAreKeptAndUpdatesOfOthersLeftOut) {
    const std::string lines = sectionsOf("xp-uninstall-without-versions.json", WriteSoftwareSection);
    const std::string list = "<tr>" + entry("Microsoft .NET Framework 1.1", "") + kGap +
                             entry("Microsoft .NET Framework 3.5 SP1", "") + "</tr><tr>" + entry("CCleaner", "") +
                             kGap + entry("Adobe Reader 8.1.3 - Deutsch", "8.1.3") + "</tr><tr>" +
                             entry("Ghostscript &lt;8.64&gt; & fonts", "") + kGap +
                             entry("Internet Explorer Q832894", "") + "</tr><tr>" +
                             entry("Mozilla Firefox (3.6.3)", "3.6.3 (de)") + kGap +
                             // An empty quiet name or parent counts as none; with a
                             // version, the display name counts whatever else is set.
                             entry("Paint.NET", "") + "</tr><tr>" + entry("WinZip", "") + kGap +
                             entry("Office Proofing Tools", "12.0") + "</tr></table></tr></table>";
    EXPECT_NE(lines.find(list), std::string::npos) << lines;
    EXPECT_EQ(lines.find("KB"), std::string::npos) << "updates of other programs are not listed";
    EXPECT_EQ(lines.find("Hidden"), std::string::npos);
    EXPECT_EQ(lines.find(">Error<"), std::string::npos);
}

TEST(SoftwareSnapshots, ANativeListWithoutWow6432NodeIsKept) {
    const std::string lines = sectionsOf("win10-no-wow-large-video.json", WriteSoftwareSection);
    EXPECT_NE(lines.find("<tr>" + entry("7-Zip 23.01 (x64)", "23.01") + kGap +
                         entry("Mozilla Maintenance Service", "121.0") + "</tr></table></tr></table>"),
              std::string::npos)
        << lines;
    EXPECT_EQ(lines.find(">Error<"), std::string::npos);
}

TEST(VideoSnapshots, EveryCardShowsItsMemory) {
    const std::string lines = sectionsOf("win10-no-wow-large-video.json", WriteVgaSection);
    std::vector<std::string> shown;
    const std::string label = "class='td1'>Video-RAM</td><td width='550' bgcolor='#d9d9d9' class='td1'>";
    for (auto at = lines.find(label); at != std::string::npos; at = lines.find(label, at + 1)) {
        const auto start = at + label.size();
        shown.push_back(lines.substr(start, lines.find("</td>", start) - start));
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"1024 MB", "2048 MB", "2108 MB", "4095 MB"})) << lines;
    EXPECT_NE(lines.find(rowLine("VideoMode", "2560 x 1440") + rowLine("Colour_bits", "32&nbsp;") +
                         rowLine("Video-RAM", "4095 MB")),
              std::string::npos);
}

}  // namespace
}  // namespace veltrix
