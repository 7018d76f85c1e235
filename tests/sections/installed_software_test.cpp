// The full list of a 64-bit system (native key, then Wow6432Node; names with
// markup; quiet names; unlisted subkeys) is compared literally in
// inventory_batch_test.cpp.
#include <gtest/gtest.h>

#include "sections/collectors.h"
#include "support/fakes.h"

namespace veltrix {
namespace {

using namespace test;

const std::string kOsQuery = "Select * from Win32_OperatingSystem";
const std::string kNative = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::string kWow = "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

const std::string kHeadings =
    "<table border='0' cellspacing='3' cellpadding='0'><tr valign='top'><td>"
    "<table border='1' cellspacing='0' cellpadding='0'><tr><td width='290' align='center'>Description</td>"
    "<td width='60' align='center'>Version</td><td width='5' borders='0'></td>"
    "<td width='290' align='center'>Description</td><td width='60' align='center'>Version</td></tr>";

std::string entry(const std::string& name, const std::string& version) {
    return "<td width='290' valign='top'>&nbsp;" + name + "</td><td width='60' valign='top'>&nbsp;" + version +
           "</td>";
}

struct SoftwareTest : ::testing::Test {
    ScriptedService service;
    ScriptedService::Registry& registry = service.registry.emplace();

    void architecture(wmi::Value value) { service.answers[kOsQuery] = {{object({{"OSArchitecture", value}})}}; }
    void program(const std::string& key, const std::string& subkey,
                 std::map<std::string, std::string> values) {
        registry.subkeys[key].push_back(subkey);
        if (!values.empty()) registry.values[key + subkey] = std::move(values);
    }
    std::string run(bool ticked = true) {
        ScanFixture fx(service, nullptr, true, ticked);
        WriteSoftwareSection(fx.scan);
        EXPECT_FALSE(fx.pending.any());
        return fx.lines();
    }
};

TEST_F(SoftwareTest, OtherArchitecturesListTheNativeKeyOnly) {
    program(kNative, "A", {{"DisplayName", "Native"}, {"DisplayVersion", "1"}});
    program(kWow, "B", {{"DisplayName", "Wow"}, {"DisplayVersion", "2"}});
    for (auto arch : {text("32-Bit"), text("32-bit"), null()}) {
        architecture(arch);
        std::string out = run();
        EXPECT_NE(out.find(entry("Native", "1")), std::string::npos);
        EXPECT_EQ(out.find("Wow"), std::string::npos);
    }
    // An operating system that cannot be read counts as 32-bit and is no failure.
    service.answers.erase(kOsQuery);
    EXPECT_EQ(run(), headLines("Installed Software") +
                         rowLine("&nbsp;", kHeadings + "<tr>" + entry("Native", "1") +
                                               "<td width='5' borders='0'></td><td>&nbsp;</td><td>&nbsp;</td></tr>"
                                               "</table></tr></table>") +
                         kFootLine);
}

TEST_F(SoftwareTest, NoSubkeyWritesNothingOrTheFailure) {
    architecture(text("64-Bit"));
    registry.subkeys[kNative];
    registry.subkeys[kWow];
    EXPECT_EQ(run(), "");

    registry.keyFailures[kWow] = Failure{4097, "Generic failure"};
    EXPECT_EQ(run(), headLines("Installed Software") + rowLine("Error", "Generic failure&nbsp;") + kFootLine);

    registry.connectFailure = Failure{4112, "Invalid class StdRegProv"};
    EXPECT_EQ(run(), headLines("Installed Software") + rowLine("Error", "Invalid class StdRegProv&nbsp;") +
                         kFootLine);
}

TEST_F(SoftwareTest, AFailedKeyDropsTheListAfterEntries) {
    architecture(text("64-Bit"));
    program(kNative, "A", {{"DisplayName", "Native"}, {"DisplayVersion", "1"}});
    registry.keyFailures[kWow] = Failure{4097, "Generic failure"};
    EXPECT_EQ(run(), headLines("Installed Software") + rowLine("Error", "Generic failure&nbsp;") + kFootLine);
}

// A 64-bit system without 32-bit programs has no Wow6432Node key, and a
// freshly installed one may lack the native key: each is an empty list.
TEST_F(SoftwareTest, AMissingUninstallKeyIsAnEmptyList) {
    architecture(text("64-Bit"));
    program(kNative, "A", {{"DisplayName", "Native"}, {"DisplayVersion", "1"}});
    const std::string onlyNative =
        headLines("Installed Software") +
        rowLine("&nbsp;", kHeadings + "<tr>" + entry("Native", "1") +
                              "<td width='5' borders='0'></td><td>&nbsp;</td><td>&nbsp;</td></tr>"
                              "</table></tr></table>") +
        kFootLine;
    EXPECT_EQ(run(), onlyNative);

    registry.subkeys.clear();
    program(kWow, "B", {{"DisplayName", "Wow"}, {"DisplayVersion", "2"}});
    EXPECT_NE(run().find(entry("Wow", "2") + "<td width='5' borders='0'></td>"), std::string::npos);

    registry.subkeys.clear();
    EXPECT_EQ(run(), "");  // neither key: no programs, no failure, no section
}

TEST_F(SoftwareTest, TenThousandSubkeysMakeOneRowAndUntickedReadsNothing) {
    architecture(text("32-Bit"));
    for (int i = 0; i < 10000; ++i) {
        const std::string number = std::to_string(i);  // GCC 12 warns falsely on "K" + to_string(i)
        program(kNative, "K" + number,
                i % 3 ? std::map<std::string, std::string>{{"DisplayName", "P" + number},
                                                           {"DisplayVersion", "1"}}
                      : std::map<std::string, std::string>{});
    }
    std::string out = run();
    std::size_t entries = 0;
    for (std::size_t at = out.find("<td width='290' valign='top'>"); at != std::string::npos;
         at = out.find("<td width='290' valign='top'>", at + 1)) {
        ++entries;
    }
    EXPECT_EQ(entries, 6666u);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 4) << "head (2 lines), one row, foot";
    EXPECT_NE(out.find("&nbsp;P9998</td>"), std::string::npos);

    registry.reads = 0;
    service.queries.clear();
    EXPECT_EQ(run(/*ticked=*/false), "");
    EXPECT_EQ(registry.reads, 0u);
    EXPECT_TRUE(service.queries.empty());
}

}  // namespace
}  // namespace veltrix
