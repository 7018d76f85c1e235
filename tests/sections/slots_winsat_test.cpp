#include <gtest/gtest.h>

#include "sections/collectors.h"
#include "support/fakes.h"

namespace veltrix {
namespace {

using namespace test;

const std::string kSlotQuery = "Select * from Win32_SystemSlot";
const std::string kWinSatQuery = "Select * From Win32_WinSAT";
const std::string kSlotsLabel =
    "<table border='0' cellspacing='3' cellpadding='0'><tr><td>Tag</td></tr><tr><td>Slot Description</td></tr><tr><td>"
    "Belegung</td></tr></table>";
const std::string kValueStart = "<table border='0' cellspacing='0' cellpadding='0'><tr>";

wmi::ObjectPtr slot(wmi::Value usage, wmi::Value tag, wmi::Value designation) {
    return object({{"CurrentUsage", std::move(usage)}, {"Tag", std::move(tag)}, {"SlotDesignation", std::move(designation)}});
}

std::string cell(const std::string& tag, const std::string& designation, const std::string& usage) {
    return "<td><table border='0 ' cellspacing='3' cellpadding='0'><tr><td>" + tag + "</td></tr><tr><td>" +
           designation + "</td></tr><tr><td>" + usage + "</td></tr></table></td>";
}

TEST(SlotsSection, CellsSideBySideUsageAfreshAndUnlistedSlotsLeaveNoTrace) {
    ScriptedService service;
    service.answers[kSlotQuery] = {{
        slot(int32(4), text("System Slot 0"), text("PCIe x16 Slot 1")),
        slot(int32(0), text("Unused"), text("Hidden")),
        slot(null(), text("Null usage"), text("Hidden")),
        slot(int32(2), null(), text("PCIe x1 Slot 2")),
        slot(int32(3), text("System Slot 2"), text("<PCI Slot 3>")),
    }};
    ScanFixture fx(service);
    WriteSlotsSection(fx.scan);
    EXPECT_EQ(fx.lines(), headLines("Slots") +
                              rowLine(kSlotsLabel, kValueStart + cell("System Slot 0", "PCIe x16 Slot 1", "Ja") +
                                                       cell("", "PCIe x1 Slot 2", "") +
                                                       cell("System Slot 2", "&lt;PCI Slot 3&gt;", "Nein") + "</table>") +
                              kFootLine);
}

TEST(SlotsSection, EmptyListAndFailureReplacesTheRow) {
    {
        ScriptedService service;
        service.answers[kSlotQuery] = {};
        ScanFixture fx(service);
        WriteSlotsSection(fx.scan);
        const std::string expected =
            "<table border='0' cellpadding='2' cellspacing='0' style='border-collapse:collapse'>\n"
            "<tr><td bgcolor='#000000' class='td1'><font face='Arial' color='#ffffff' ><strong>&nbsp;Slots</strong></td></tr>\n"
            "<tr><td width='150' bgcolor='#d9d9d9' class='td1'><table border='0' cellspacing='3' cellpadding='0'><tr><td>Tag</td></tr><tr><td>Slot Description</td></tr><tr><td>Belegung</td></tr></table></td>"
            "<td width='550' bgcolor='#d9d9d9' class='td1'><table border='0' cellspacing='0' cellpadding='0'><tr></table></td></tr>\n"
            "</table><br>\n";
        EXPECT_EQ(fx.lines(), expected);
    }
    {
        ScriptedService service;
        service.answers[kSlotQuery] = {{slot(int32(4), text("A"), text("B"))}, std::nullopt, 1};
        ScanFixture fx(service);
        WriteSlotsSection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("Slots") + rowLine("Error", "Generic failure (walk)&nbsp;") + kFootLine);
    }
}

TEST(WinSatSection, ScoresWithTheLocaleSeparatorAndDashRowOnFailure) {
    class CommaLocale final : public Locale {
    public:
        std::string monthName(int) const override { return {}; }
        char decimalSeparator() const override { return ','; }
        std::string shortDate(const DateTime&) const override { return {}; }
        std::string longTime(const DateTime&) const override { return {}; }
    };
    auto assessment = object({{"CPUScore", wmi::Value::real32(7.3f)},
                              {"MemoryScore", wmi::Value::real32(7.5f)},
                              {"DiskScore", wmi::Value::real32(5.9f)},
                              {"GraphicsScore", null()},
                              {"D3DScore", wmi::Value::real32(6.0f)},
                              {"WinSPRLevel", wmi::Value::real32(5.9f)}});
    for (bool comma : {false, true}) {
        ScriptedService service;
        service.answers[kWinSatQuery] = {{assessment}};
        ScanFixture fx(service);
        CommaLocale commaLocale;
        ScanContext scan{fx.report, service, fx.pending, comma ? static_cast<const Locale&>(commaLocale) : fx.locale,
                         fx.scan.platform, fx.scan.checkBoxes};
        WriteWinSatSection(scan);
        const std::string sep = comma ? "," : ".";
        EXPECT_EQ(fx.lines(), headLines("Windows System Assessment (Scoring)") + rowLine("Processor", "7" + sep + "3&nbsp;") +
                                  rowLine("Memory", "7" + sep + "5&nbsp;") +
                                  rowLine("Primary hard disk", "5" + sep + "9&nbsp;") + rowLine("Graphics", "&nbsp;") +
                                  rowLine("Gaming graphics", "6&nbsp;") +
                                  rowLine("Windows System Performance Rating", "5" + sep + "9&nbsp;") + kFootLine);
    }
    {
        // No assessment class: only the "-" row, not the cause.
        ScriptedService service;
        service.answers[kWinSatQuery] = {{}, Failure{4112, "Invalid class"}};
        ScanFixture fx(service);
        WriteWinSatSection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("Windows System Assessment (Scoring)") + rowLine("-", "-&nbsp;") + kFootLine);
    }
    {
        // A failure after some rows adds the "-" row after them.
        ScriptedService service;
        service.answers[kWinSatQuery] = {{object({{"CPUScore", wmi::Value::real32(7.3f)}})}};
        ScanFixture fx(service);
        WriteWinSatSection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("Windows System Assessment (Scoring)") + rowLine("Processor", "7.3&nbsp;") +
                                  rowLine("-", "-&nbsp;") + kFootLine);
    }
}

}  // namespace
}  // namespace veltrix
