#include "data/report_compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "data/report_reader.h"
#include "reportdata/report_data_support.h"

namespace veltrix::data {
namespace {

// Ordered, so that the file order the scan sees is the order written here.
using json = nlohmann::ordered_json;

constexpr const char* kUninstall = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

json baseSnapshot() { return json::parse(test::readText(test::officeDesktop())); }

json& cim(json& snapshot) { return snapshot["namespaces"]["root\\cimv2"]; }

// The sample desktop with a second network adapter, so that order can change.
json withTwoAdapters() {
    json snapshot = baseSnapshot();
    json second = cim(snapshot)["Win32_NetworkAdapter"][0];
    second["Name"] = second["Description"] = "Realtek PCIe GbE Family Controller";
    second["MACAddress"] = "00:E0:4C:68:00:01";
    second["PNPDeviceID"] = "PCI\\VEN_10EC&DEV_8168&SUBSYS_30A117AA&REV_15\\4&2BBD1A7C&0&00E4";
    cim(snapshot)["Win32_NetworkAdapter"].push_back(second);
    return snapshot;
}

// Scanned in memory at different times under different names: neither is a difference.
Report scanned(const json& snapshot, const std::string& name, int minute) {
    auto page = ScanSnapshotToPage(snapshot.dump(), name, {2024, 3, 5, 14, minute, 0});
    EXPECT_TRUE(page.ok()) << page.failure().description;
    auto report = ParseReport(page.ok() ? *page : std::string());
    EXPECT_TRUE(report.ok());
    return report.ok() ? *report : Report{};
}

const SectionDiff* sectionDiff(const Comparison& comparison, std::string_view title) {
    for (const SectionDiff& s : comparison.sections) {
        if (s.title == title) return &s;
    }
    return nullptr;
}

std::vector<std::string> titles(const Comparison& comparison) {
    std::vector<std::string> out;
    for (const SectionDiff& s : comparison.sections) out.push_back(s.title);
    return out;
}

TEST(CompareReports, OrderScanTimeAndNameAreNoDifference) {
    json before = withTwoAdapters();
    json after = before;
    auto& adapters = cim(after)["Win32_NetworkAdapter"];
    std::reverse(adapters.begin(), adapters.end());
    auto& hotfixes = cim(after)["Win32_QuickFixEngineering"];
    std::reverse(hotfixes.begin(), hotfixes.end());
    auto& modules = cim(after)["Win32_PhysicalMemory"];
    std::reverse(modules.begin(), modules.end());
    json registry = json::object();  // the programs in another order
    for (auto it = after["registry"].rbegin(); it != after["registry"].rend(); ++it) registry[it.key()] = *it;
    ASSERT_NE(registry.begin().key(), after["registry"].begin().key());
    after["registry"] = registry;

    Report a = scanned(before, "before.json", 7), b = scanned(after, "after.json", 59);
    ASSERT_NE(a.sections.at(0), b.sections.at(0));  // the scan times do differ
    Comparison comparison = CompareReports(a, b);
    EXPECT_TRUE(comparison.same()) << ::testing::PrintToString(titles(comparison));
}

// The changes a technician makes, each found as what it is and nothing else.
TEST(CompareReports, DiskReplacedModuleAddedProgramInstalledAdaptersReordered) {
    json before = withTwoAdapters();
    json after = before;
    auto& disk = cim(after)["Win32_DiskDrive"][0];
    disk["Model"] = "WD Blue SN580 1TB";
    disk["SerialNumber"] = "23154X800123";
    json module = cim(after)["Win32_PhysicalMemory"][1];
    module["BankLabel"] = "BANK 3";
    module["DeviceLocator"] = "DIMM3";
    module["SerialNumber"] = "7F00AA01";
    cim(after)["Win32_PhysicalMemory"].push_back(module);
    after["registry"][std::string(kUninstall) + "Mozilla Firefox"] = {{"DisplayName", "Mozilla Firefox (x64 de)"},
                                                                       {"DisplayVersion", "121.0"}};
    auto& adapters = cim(after)["Win32_NetworkAdapter"];
    std::swap(adapters[0], adapters[1]);

    const Report a = scanned(before, "a.json", 1), b = scanned(after, "b.json", 2);
    auto adaptersOf = [](const Report& r) {
        return std::find_if(r.sections.begin(), r.sections.end(), [](const Section& s) { return s.title == "Networkdevices"; });
    };
    ASSERT_EQ(adaptersOf(a)->items.size(), 2u);
    ASSERT_EQ(adaptersOf(a)->items[0], adaptersOf(b)->items[1]);  // the same adapters, the other way round
    Comparison comparison = CompareReports(a, b);
    EXPECT_EQ(titles(comparison), (std::vector<std::string>{"Memory", "HDD", "Installed Software"}));

    const SectionDiff* disks = sectionDiff(comparison, "HDD");
    ASSERT_TRUE(disks);
    ASSERT_EQ(disks->removed.size(), 1u);
    ASSERT_EQ(disks->added.size(), 1u);
    EXPECT_TRUE(disks->changed.empty());
    EXPECT_EQ(disks->removed[0].caption, "Samsung SSD 980 500GB [0025_3852_1190_1A2B.]");
    EXPECT_EQ(disks->added[0].caption, "WD Blue SN580 1TB [23154X800123]");

    const SectionDiff* memory = sectionDiff(comparison, "Memory");
    ASSERT_TRUE(memory);
    ASSERT_EQ(memory->added.size(), 1u);
    EXPECT_TRUE(memory->removed.empty() && memory->changed.empty());
    EXPECT_NE(std::find(memory->added[0].rows.begin(), memory->added[0].rows.end(), Row{"Slot", "DIMM3"}),
              memory->added[0].rows.end());

    const SectionDiff* software = sectionDiff(comparison, "Installed Software");
    ASSERT_TRUE(software);
    ASSERT_EQ(software->added.size(), 1u);
    EXPECT_EQ(software->added[0].rows, (std::vector<Row>{{"Name", "Mozilla Firefox (x64 de)"}, {"Version", "121.0"}}));
}

// What keeps its identity is a change "label: old → new": a module swapped in
// the same slot, an updated program, a BIOS update, a new error.
TEST(CompareReports, SameIdentityGivesChangesRowByRow) {
    json before = baseSnapshot();
    json after = before;
    cim(after)["Win32_PhysicalMemory"][0]["SerialNumber"] = "99990000";
    cim(after)["Win32_BIOS"][0]["SMBIOSBIOSVersion"] = "N4.3.0";
    cim(after)["Win32_BIOS"][0]["Description"] = "BIOS Date: 09/01/24 Ver: 1.5.0";
    for (auto& [key, values] : after["registry"].items()) {
        if (values.value("DisplayName", "") == "7-Zip 23.01 (x64)") values["DisplayVersion"] = "24.08";
    }
    cim(after)["Win32_CDROMDrive"] = {{"error", {{"number", 4112}, {"description", "Invalid class"}}}};

    Comparison comparison = CompareReports(scanned(before, "a.json", 1), scanned(after, "b.json", 1));

    const SectionDiff* memory = sectionDiff(comparison, "Memory");
    ASSERT_TRUE(memory && memory->changed.size() == 1);
    EXPECT_TRUE(memory->added.empty() && memory->removed.empty());
    ASSERT_EQ(memory->changed[0].changes.size(), 1u);
    EXPECT_EQ(memory->changed[0].changes[0].label, "SerialNumber");
    EXPECT_EQ(memory->changed[0].changes[0].before, "3A1B2C3D");
    EXPECT_EQ(memory->changed[0].changes[0].after, "99990000");

    const SectionDiff* bios = sectionDiff(comparison, "Bios");
    ASSERT_TRUE(bios && bios->changed.size() == 1 && bios->added.empty());
    EXPECT_EQ(bios->changed[0].changes.size(), 2u);

    const SectionDiff* software = sectionDiff(comparison, "Installed Software");
    ASSERT_TRUE(software && software->changed.size() == 1);
    EXPECT_EQ(software->changed[0].caption, "7-Zip 23.01 (x64)");
    EXPECT_EQ(software->changed[0].changes[0].after, "24.08");

    const SectionDiff* drives = sectionDiff(comparison, "CDROM");
    ASSERT_TRUE(drives);
    ASSERT_EQ(drives->added.size(), 1u);
    EXPECT_EQ(drives->added[0].caption, "Error");
    EXPECT_EQ(drives->removed.size(), 1u);  // the drive no longer listed
}

// Repeated names (two runtimes of one name, different versions) pair by
// content first, so their order does not make them differ.
TEST(CompareReports, RepeatedIdentitiesPairByContent) {
    Report a, b;
    a.sections = b.sections = {Section{"Installed Software", {}, std::nullopt}};
    a.software = {{"Runtime", "2015"}, {"Runtime", "2013"}, {"Tool", "1"}};
    b.software = {{"Runtime", "2013"}, {"Tool", "2"}, {"Runtime", "2015"}};
    Comparison comparison = CompareReports(a, b);
    ASSERT_EQ(comparison.sections.size(), 1u);
    ASSERT_EQ(comparison.sections[0].changed.size(), 1u);
    EXPECT_EQ(comparison.sections[0].changed[0].caption, "Tool");

    // A section only one report has is all added (or removed).
    Report c = b;
    c.sections.push_back(Section{"Hotfix", {}, std::nullopt});
    c.hotfixes = {{"KB1", "Update"}};
    Comparison more = CompareReports(b, c);
    ASSERT_EQ(more.sections.size(), 1u);
    EXPECT_EQ(more.sections[0].title, "Hotfix");
    EXPECT_EQ(more.sections[0].added.size(), 1u);
}

}  // namespace
}  // namespace veltrix::data

namespace veltrix::data {
namespace {

// The same four changes on captures of real machines: adapters without a MAC,
// disks and modules as real firmware fills them, many adapters of one model.
TEST(CompareReports, RealMachinesShowOnlyTheChangesMade) {
    for (const char* name : {"7.json", "10-net.json", "xppro2.json"}) {
        SCOPED_TRACE(name);
        json before = json::parse(test::readText(std::string(VELTRIX_TEST_DATA) + "/windows-real/" + name));
        json after = before;
        std::vector<std::string> expected;
        if (cim(after).contains("Win32_PhysicalMemory") && !cim(after)["Win32_PhysicalMemory"].empty()) {
            auto& modules = cim(after)["Win32_PhysicalMemory"];
            json module = modules[0];
            module["BankLabel"] = "BANK 9";
            module["DeviceLocator"] = "DIMM9";
            module["SerialNumber"] = "ADDED001";
            modules.push_back(module);
            expected.push_back("Memory");
        }
        if (cim(after).contains("Win32_DiskDrive") && !cim(after)["Win32_DiskDrive"].empty()) {
            auto& disks = cim(after)["Win32_DiskDrive"];
            disks[0]["Model"] = "Replacement Disk 1TB";
            disks[0]["SerialNumber"] = "REPLACED01";
            expected.push_back("HDD");
        }
        auto& adapters = cim(after)["Win32_NetworkAdapter"];
        ASSERT_GT(adapters.size(), 1u);
        std::reverse(adapters.begin(), adapters.end());
        after["registry"][std::string(kUninstall) + "Added Program"] = {{"DisplayName", "Added Program"},
                                                                        {"DisplayVersion", "1.0"}};
        expected.push_back("Installed Software");

        Comparison comparison = CompareReports(scanned(before, "before.json", 1), scanned(after, "after.json", 2));
        EXPECT_EQ(titles(comparison), expected);
        if (const SectionDiff* software = sectionDiff(comparison, "Installed Software")) {
            ASSERT_EQ(software->added.size(), 1u);
            EXPECT_TRUE(software->removed.empty() && software->changed.empty());
        }
    }
}

}  // namespace
}  // namespace veltrix::data

#include "data/compare_output.h"

namespace veltrix::data {
namespace {

// Two scans of one PC's programs: 7-Zip renamed by its version, one tool
// gone. The upgrade is one line in every format; the removal stays a removal.
struct UpgradeCase {
    NamedReport before{"old.htm", {}}, after{"new.htm", {}};
    UpgradeCase() {
        before.report.name = after.report.name = "pc-0042";
        before.report.sections = after.report.sections = {Section{"Installed Software", {}, std::nullopt}};
        before.report.software = {{"7-Zip 23.01 (x64)", "23.01"}, {"Old Tool", "1.0"}};
        after.report.software = {{"7-Zip 24.08 (x64)", "24.08"}};
    }
};

TEST(CompareOutput, AProgramUpgradeIsOneChangeInEveryFormat) {
    UpgradeCase c;
    const Comparison comparison = CompareReports(c.before.report, c.after.report);
    EXPECT_EQ(CompareAsText(c.before, c.after, comparison),
              "--- old.htm (pc-0042)\n+++ new.htm (pc-0042)\n\n[Installed Software]\n"
              "- removed: Old Tool\n    Name: Old Tool\n    Version: 1.0\n"
              "^ upgraded: 7-Zip 23.01 (x64) 23.01 \xE2\x86\x92 7-Zip 24.08 (x64) 24.08\n\n1 section differs\n");
    const auto json = nlohmann::json::parse(CompareAsJson(c.before, c.after, comparison));
    const auto& software = json["sections"][0];
    EXPECT_TRUE(software["added"].empty());
    ASSERT_EQ(software["upgraded"].size(), 1u);
    const nlohmann::json expected = {{"old", {{"name", "7-Zip 23.01 (x64)"}, {"version", "23.01"}}},
                                     {"new", {{"name", "7-Zip 24.08 (x64)"}, {"version", "24.08"}}},
                                     {"text", "7-Zip 23.01 (x64) 23.01 \xE2\x86\x92 7-Zip 24.08 (x64) 24.08"}};
    EXPECT_EQ(software["upgraded"][0], expected);
    EXPECT_FALSE(json.contains("different-machines"));
    // Windows-1252, where the arrow is a numeric reference.
    EXPECT_NE(CompareAsHtml(c.before, c.after, comparison)
                  .find("<b>upgraded</b></td><td width='550' bgcolor='#d9d9d9' class='td1'><b>7-Zip 23.01 (x64) 23.01 "
                        "&#8594; 7-Zip 24.08 (x64) 24.08</b>"),
              std::string::npos);

    // Without an upgrade the JSON keeps the shape scripts know.
    c.after.report.software = {{"7-Zip 23.01 (x64)", "23.01"}};
    EXPECT_FALSE(nlohmann::json::parse(CompareAsJson(c.before, c.after, CompareReports(c.before.report, c.after.report)))
                     ["sections"][0]
                         .contains("upgraded"));
}

TEST(CompareOutput, ScansOfTwoDifferentMachinesSaySoFirst) {
    UpgradeCase c;
    c.before.report.machine.enclosureSerial = "NRV-7731-0042";
    c.after.report.machine.enclosureSerial = "NRV-7731-0666";
    Comparison comparison = CompareReports(c.before.report, c.after.report);
    const std::string text = CompareAsText(c.before, c.after, comparison);
    EXPECT_EQ(text.substr(0, text.find("---")),
              "These are scans of two different machines: the old scan's enclosure serial is NRV-7731-0042, the new "
              "one's NRV-7731-0666.\n");
    EXPECT_EQ(nlohmann::json::parse(CompareAsJson(c.before, c.after, comparison))["different-machines"],
              "the old scan's enclosure serial is NRV-7731-0042, the new one's NRV-7731-0666");
    EXPECT_NE(CompareAsHtml(c.before, c.after, comparison).find("<b>two different machines</b>: the old scan"),
              std::string::npos);

    // A UUID in the other byte order is the same machine; a placeholder or a
    // serial only one side shows tells nothing; another UUID does.
    MachineIdentity a, b;
    a.uuid = "4C4C4544-0042-3510-8052-B4C04F4E3732";
    b.uuid = "44454C4C-4200-1035-8052-B4C04F4E3732";
    a.enclosureSerial = "To be filled by O.E.M.";
    b.enclosureSerial = "NRV-1";
    a.boardSerial = "BOARD-1";
    EXPECT_FALSE(WhyDifferentMachines(a, b));
    b.uuid = "11111111-2222-3333-4444-555555555555";
    EXPECT_EQ(WhyDifferentMachines(a, b),
              "the old scan's UUID is 4C4C4544-0042-3510-8052-B4C04F4E3732, the new one's "
              "11111111-2222-3333-4444-555555555555");
}

}  // namespace
}  // namespace veltrix::data
