#include <gtest/gtest.h>

#include "sections/collectors.h"
#include "sections/vga.h"
#include "support/fakes.h"

namespace veltrix {
namespace {

using namespace test;

const std::string kVgaQuery = "Select * from Win32_VideoController";

wmi::ObjectPtr controller(wmi::Value date, wmi::Value horizontal, wmi::Value bits, wmi::Value ram) {
    return object({{"Name", text("GPU")}, {"DeviceID", null()}, {"PNPDeviceID", null()}, {"DriverVersion", null()},
                   {"DriverDate", std::move(date)}, {"CurrentHorizontalResolution", std::move(horizontal)},
                   {"CurrentVerticalResolution", int32(1024)}, {"CurrentBitsPerPixel", std::move(bits)},
                   {"AdapterRAM", std::move(ram)}});
}

std::string vga(const std::vector<wmi::ObjectPtr>& controllers, RecordingUi* ui = nullptr) {
    ScriptedService service;
    service.answers[kVgaQuery] = {controllers};
    ScanFixture fx(service);
    WriteVgaSection(fx.scan);
    if (ui) ui->messages = fx.ui.messages;
    return fx.lines();
}

TEST(VgaSection, IntegerGuardAcceptsOnlyPositive32BitIntegers) {
    for (const auto& bad : {null(), text("1280"), wmi::Value::real32(1280.0f), int32(0), wmi::Value::uint8(200)}) {
        EXPECT_EQ(vga({controller(null(), bad, bad, bad)}), headLines("VGA") + rowLine("Name", "GPU&nbsp;") + kFootLine);
    }
    // Video memory: halves rounded away from zero.
    EXPECT_EQ(vga({controller(null(), int32(1280), int32(32), int32(1572864))}),
              headLines("VGA") + rowLine("Name", "GPU&nbsp;") + rowLine("VideoMode", "1280 x 1024") +
                  rowLine("Colour_bits", "32&nbsp;") + rowLine("Video-RAM", "2 MB") + kFootLine);
}

// AdapterRAM is unsigned: cards of 2 GiB and more arrive negative from WMI
// and as digits from a snapshot; 0xFFF00000 stands for "4 GiB or more".
TEST(VgaSection, VideoMemoryReadsTheWholeUnsigned32BitRange) {
    auto ramRow = [](wmi::Value ram) {
        const std::string lines = vga({controller(null(), null(), null(), std::move(ram))});
        const std::string label = "class='td1'>Video-RAM</td>";
        auto at = lines.find(label);
        if (at == std::string::npos) return std::string("no row");
        at = lines.find("class='td1'>", at + label.size()) + 12;
        return lines.substr(at, lines.find("</td>", at) - at);
    };
    EXPECT_EQ(ramRow(int32(INT32_MIN)), "2048 MB");
    EXPECT_EQ(ramRow(int32(-2084569088)), "2108 MB");  // 2210398208 bytes
    EXPECT_EQ(ramRow(int32(static_cast<std::int32_t>(0xFFF00000u))), "4095 MB");
    EXPECT_EQ(ramRow(int32(-1)), "4096 MB");  // 2^32-1 bytes, rounded
    EXPECT_EQ(ramRow(text("2147483648")), "2048 MB");
    EXPECT_EQ(ramRow(text("4293918720")), "4095 MB");
    EXPECT_EQ(ramRow(int32(268435456)), "256 MB");
    for (auto none : {int32(0), text("4294967296"), text("99999999999"), text("-5"), text("2147483648 "),
                      text("1280"), text(""), null(), wmi::Value::real32(4.0e9f)}) {
        EXPECT_EQ(ramRow(none), "no row");
    }
}

TEST(VgaSection, BadDriverDateIsReportedAfterTheLaterRowsAndControllers) {
    RecordingUi ui;
    const std::string lines = vga({controller(text("2006100"), int32(1280), null(), null()),
                                   controller(text("20061002134501.000000-000"), null(), null(), null())},
                                  &ui);
    EXPECT_EQ(lines, headLines("VGA") + rowLine("Name", "GPU&nbsp;") + rowLine("VideoMode", "1280 x 1024") +
                         kSpacerLine + rowLine("Name", "GPU&nbsp;") +
                         rowLine("DriverDate", "10/2/2006 1:45:01 PM&nbsp;") +
                         rowLine("Error", "Type mismatch: no valid date in \"2006100\"&nbsp;") + kFootLine);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"Error: try to get vga data."});
}

TEST(ConvertWmiDate, ReadsMonthDayYearRefusesWhatIsNoDateAndHidesMidnight) {
    auto date = ConvertWmiDate("20061002000000.000000-000");
    ASSERT_TRUE(date);
    EXPECT_EQ(DriverDateText(*date, EnglishLocale()), "10/2/2006");
    EXPECT_TRUE(ConvertWmiDate("20000229235959"));
    for (const char* bad : {"", "2006100200000", "20061302000000", "20060230000000", "19000229000000",
                            "20061002240000", "20061002006000", "2006-10-02T00:0"}) {
        auto refused = ConvertWmiDate(bad);
        ASSERT_FALSE(refused) << bad;
        EXPECT_EQ(refused.failure().number, failure_code::kTypeMismatch);
    }
    EXPECT_EQ(ConvertWmiDate("<b>").failure().description, "Type mismatch: no valid date in \"&lt;b&gt;\"");
}

TEST(ProblemDevicesSection, MessageLookedUpAfreshAndUnnamedDevicesNotCounted) {
    ScriptedService service;
    service.answers["Select * from Win32_PnPEntity Where ConfigManagerErrorCode <> '0'"] = {{
        object({{"ConfigManagerErrorCode", int32(28)}, {"Name", null()}}),  // skipped, not counted
        object({{"ConfigManagerErrorCode", int32(22)}, {"Name", text("<Hub>")}, {"Service", text("")}, {"DeviceID", text("")}}),
        object({{"ConfigManagerErrorCode", int32(3)}, {"Name", text("Low")}, {"Service", null()}, {"DeviceID", null()}}),
        object({{"ConfigManagerErrorCode", text("10")}, {"Name", text("Text code")}, {"DeviceID", null()}}),
    }};
    ScanFixture fx(service);
    WriteProblemDevicesSection(fx.scan);
    EXPECT_EQ(fx.lines(), headLines("additional installed hardware") +
                              rowLine("<b>Name</b>", "<b>&lt;Hub&gt;</b>") +
                              rowLine("Status", "Errorcode:22<p>This device is disabled.") + kSpacerLine +
                              rowLine("<b>Name</b>", "<b>Low</b>") + rowLine("Status", "Errorcode:3<p>") + kSpacerLine +
                              rowLine("<b>Name</b>", "<b>Text code</b>") +
                              rowLine("Status", "Errorcode:10<p>This device cannot start.") +
                              rowLine("Error", "Not found: the object has no property Service&nbsp;") + kFootLine);
}

TEST(SlotsSection, UsageAfreshUnlistedSlotsLeaveNoTraceAndAFailureReplacesTheRow) {
    auto slot = [](wmi::Value usage, wmi::Value tag) {
        return object({{"CurrentUsage", std::move(usage)}, {"Tag", std::move(tag)}, {"SlotDesignation", text("<S>")}});
    };
    auto cell = [](const std::string& tag, const std::string& usage) {
        return "<td><table border='0 ' cellspacing='3' cellpadding='0'><tr><td>" + tag +
               "</td></tr><tr><td>&lt;S&gt;</td></tr><tr><td>" + usage + "</td></tr></table></td>";
    };
    ScriptedService service;
    service.answers["Select * from Win32_SystemSlot"] = {
        {slot(int32(4), text("A")), slot(int32(0), text("B")), slot(null(), text("C")), slot(int32(2), null())}};
    ScanFixture fx(service);
    WriteSlotsSection(fx.scan);
    EXPECT_NE(fx.lines().find("<table border='0' cellspacing='0' cellpadding='0'><tr>" + cell("A", "Ja") + cell("", "") +
                              "</table></td></tr>"),
              std::string::npos);

    service.answers["Select * from Win32_SystemSlot"].failAfter = 1;
    ScanFixture failing(service);
    WriteSlotsSection(failing.scan);
    EXPECT_EQ(failing.lines(), headLines("Slots") + rowLine("Error", "Generic failure (walk)&nbsp;") + kFootLine);
}

TEST(WinSatSection, ScoresUseTheLocaleSeparatorAndAFailureAddsTheDashRow) {
    class CommaLocale final : public Locale {
    public:
        std::string monthName(int) const override { return {}; }
        char decimalSeparator() const override { return ','; }
        std::string shortDate(const DateTime&) const override { return {}; }
        std::string longTime(const DateTime&) const override { return {}; }
    } comma;
    ScriptedService service;
    service.answers["Select * From Win32_WinSAT"] = {{object({{"CPUScore", wmi::Value::real32(7.3f)}})}};
    ScanFixture fx(service);
    ScanContext scan{fx.report, service, fx.pending, comma, fx.scan.platform, fx.scan.checkBoxes};
    WriteWinSatSection(scan);
    EXPECT_EQ(fx.lines(), headLines("Windows System Assessment (Scoring)") + rowLine("Processor", "7,3&nbsp;") +
                              rowLine("-", "-&nbsp;") + kFootLine);
}

}  // namespace
}  // namespace veltrix
