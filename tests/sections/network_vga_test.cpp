#include <gtest/gtest.h>

#include "sections/collectors.h"
#include "sections/vga.h"
#include "support/fakes.h"

namespace veltrix {
namespace {

using namespace test;

const std::string kNetworkQuery = "SELECT * FROM Win32_NetworkAdapter WHERE NetConnectionID  > 0 ";
const std::string kAllDrivers = "SELECT * FROM Win32_PnPSignedDriver";
const std::string kVgaQuery = "Select * from Win32_VideoController";
const std::string kNotPresent = rowLine("&nbsp;", "Networkdevices not present.");

// --- Networkdevices

TEST(NetworkSection, LiteralSectionWithTwoAdapters) {
    ScriptedService service;
    service.answers[kNetworkQuery] = {{
        object({{"Description", null()}, {"PNPDeviceID", text("ROOT\\X")}, {"MACAddress", text("x")}}),
        object({{"Description", text("Intel(R) Ethernet Connection I217-LM")},
                {"PNPDeviceID", text("PCI\\VEN_8086&DEV_153A&SUBSYS_11A717AA&REV_04\\3&11583659&0&C8")},
                {"MACAddress", text("28:D2:44:1A:2B:3C")}}),
        object({{"Description", text("Bluetooth Device (Personal Area Network)")},
                {"PNPDeviceID", text("BTH\\MS_BTHPAN\\7&2A1F3B&0&2")},
                {"MACAddress", null()}}),
    }};
    service.answers[kAllDrivers] = {{
        object({{"Description", text("Intel(R) Ethernet Connection I217-LM")}, {"DriverVersion", text("12.12.80.19")}}),
    }};
    ScanFixture fx(service);
    WriteNetworkSection(fx.scan);
    const std::string expected =
        "<table border='0' cellpadding='2' cellspacing='0' style='border-collapse:collapse'>\n"
        "<tr><td bgcolor='#000000' class='td1'><font face='Arial' color='#ffffff' ><strong>&nbsp;Networkdevices</strong></td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>Description</td><td width='550' bgcolor='#d9d9d9' class='td1'>Intel(R) Ethernet Connection I217-LM&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>Driver Version</td><td width='550' bgcolor='#d9d9d9' class='td1'>12.12.80.19&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>PNPDeviceID</td><td width='550' bgcolor='#d9d9d9' class='td1'>PCI\\VEN_8086&DEV_153A&SUBSYS_11A717AA&REV_04&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>Mac-Address</td><td width='550' bgcolor='#d9d9d9' class='td1'>28:D2:44:1A:2B:3C&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>&nbsp;</td><td width='550' bgcolor='#d9d9d9' class='td1'>&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>Description</td><td width='550' bgcolor='#d9d9d9' class='td1'>Bluetooth Device (Personal Area Network)&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>PNPDeviceID</td><td width='550' bgcolor='#d9d9d9' class='td1'>BTH\\MS_BTHPAN\\7&2A1F3B&0&2&nbsp;</td></tr>\n"
        "</table><br>\n";
    EXPECT_EQ(fx.lines(), expected);
    EXPECT_EQ(service.monikers.front(), std::string(wmi::kWmiMoniker));
}

TEST(NetworkSection, NotPresentRowComesBeforeTheErrorRow) {
    {
        ScriptedService service;
        service.answers[kNetworkQuery] = {{object({{"Description", text("")}})}};
        ScanFixture fx(service);
        WriteNetworkSection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("Networkdevices") + kNotPresent + kFootLine);
    }
    {
        ScriptedService service;
        service.connectFailure = Failure{462, "The remote server machine does not exist"};
        ScanFixture fx(service);
        WriteNetworkSection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("Networkdevices") + kNotPresent +
                                  rowLine("Error", "The remote server machine does not exist&nbsp;") + kFootLine);
    }
}

// --- VGA

wmi::ObjectPtr controller(wmi::Value date, wmi::Value horizontal, wmi::Value vertical, wmi::Value bits, wmi::Value ram) {
    return object({{"Name", text("NVIDIA Quadro K620")},
                   {"DeviceID", text("VideoController1")},
                   {"PNPDeviceID", text("PCI\\VEN_10DE&DEV_13BB&SUBSYS_1098103C&REV_A2\\4&3A3C2A9E&0&0008")},
                   {"DriverVersion", text("21.21.13.7654")},
                   {"DriverDate", std::move(date)},
                   {"CurrentHorizontalResolution", std::move(horizontal)},
                   {"CurrentVerticalResolution", std::move(vertical)},
                   {"CurrentBitsPerPixel", std::move(bits)},
                   {"AdapterRAM", std::move(ram)}});
}

TEST(VgaSection, LiteralSectionWithAllRows) {
    ScriptedService service;
    service.answers[kVgaQuery] = {{controller(text("20061002000000.000000-000"), int32(1280), int32(1024), int32(32),
                                              int32(268435456))}};
    ScanFixture fx(service);
    WriteVgaSection(fx.scan);
    const std::string expected =
        "<table border='0' cellpadding='2' cellspacing='0' style='border-collapse:collapse'>\n"
        "<tr><td bgcolor='#000000' class='td1'><font face='Arial' color='#ffffff' ><strong>&nbsp;VGA</strong></td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>Name</td><td width='550' bgcolor='#d9d9d9' class='td1'>NVIDIA Quadro K620&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DeviceID</td><td width='550' bgcolor='#d9d9d9' class='td1'>VideoController1&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>PNPDeviceID</td><td width='550' bgcolor='#d9d9d9' class='td1'>PCI\\VEN_10DE&DEV_13BB&SUBSYS_1098103C&REV_A2&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DriverVersion</td><td width='550' bgcolor='#d9d9d9' class='td1'>21.21.13.7654&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DriverDate</td><td width='550' bgcolor='#d9d9d9' class='td1'>10/2/2006&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>VideoMode</td><td width='550' bgcolor='#d9d9d9' class='td1'>1280 x 1024</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>Colour_bits</td><td width='550' bgcolor='#d9d9d9' class='td1'>32&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>Video-RAM</td><td width='550' bgcolor='#d9d9d9' class='td1'>256 MB</td></tr>\n"
        "</table><br>\n";
    EXPECT_EQ(fx.lines(), expected);
    EXPECT_TRUE(fx.ui.messages.empty());
}

TEST(VgaSection, IntegerGuardRejectsNullTextRealZeroAndNeedsBothResolutions) {
    const std::vector<wmi::Value> failing = {null(), text("1280"), wmi::Value::real32(1280.0f), int32(0), int32(-1),
                                             wmi::Value::uint8(200)};
    for (const auto& bad : failing) {
        ScriptedService service;
        service.answers[kVgaQuery] = {{controller(null(), bad, int32(1024), bad, bad)}};
        ScanFixture fx(service);
        WriteVgaSection(fx.scan);
        EXPECT_EQ(fx.lines().find("VideoMode"), std::string::npos);
        EXPECT_EQ(fx.lines().find("Colour_bits"), std::string::npos);
        EXPECT_EQ(fx.lines().find("Video-RAM"), std::string::npos);
        EXPECT_EQ(fx.lines().find("Error"), std::string::npos);
    }
}

TEST(VgaSection, VideoMemoryRoundsHalvesAwayFromZero) {
    const std::vector<std::pair<std::int32_t, std::string>> cases = {
        {1572864, "2 MB"},    // 1.5 MB
        {1048575, "1 MB"},    // just under 1 MB
        {2147483647, "2048 MB"},
    };
    for (const auto& [ram, shown] : cases) {
        ScriptedService service;
        service.answers[kVgaQuery] = {{controller(null(), null(), null(), null(), int32(ram))}};
        ScanFixture fx(service);
        WriteVgaSection(fx.scan);
        EXPECT_NE(fx.lines().find(rowLine("Video-RAM", shown)), std::string::npos) << ram;
    }
}

TEST(VgaSection, BadDriverDateIsReportedAfterTheLaterRowsWithTheMessageBox) {
    ScriptedService service;
    service.answers[kVgaQuery] = {{controller(text("2006100"), int32(1280), int32(1024), null(), null()),
                                   controller(text("20061002134501.000000-000"), null(), null(), null(), null())}};
    ScanFixture fx(service);
    WriteVgaSection(fx.scan);
    const std::string lines = fx.lines();
    EXPECT_EQ(lines.find(rowLine("DriverDate", "10/2/2006&nbsp;")), std::string::npos);
    EXPECT_NE(lines.find(rowLine("DriverDate", "10/2/2006 1:45:01 PM&nbsp;")), std::string::npos);
    const std::size_t mode = lines.find("VideoMode");
    const std::size_t error = lines.find(rowLine("Error", "Type mismatch: no valid date in \"2006100\"&nbsp;"));
    ASSERT_NE(mode, std::string::npos);
    ASSERT_NE(error, std::string::npos);
    EXPECT_LT(mode, error);
    EXPECT_EQ(lines.substr(error), rowLine("Error", "Type mismatch: no valid date in \"2006100\"&nbsp;") + kFootLine);
    EXPECT_EQ(fx.ui.messages, std::vector<std::string>{"Error: try to get vga data."});
}

TEST(VgaSection, UnreachableGivesHeadBoxErrorFoot) {
    ScriptedService service;
    service.connectFailure = Failure{462, "The remote server machine does not exist"};
    ScanFixture fx(service);
    WriteVgaSection(fx.scan);
    EXPECT_EQ(fx.lines(), headLines("VGA") + rowLine("Error", "The remote server machine does not exist&nbsp;") + kFootLine);
    ASSERT_EQ(fx.ui.calls.size(), 1u);
    EXPECT_EQ(fx.ui.calls[0], "messageBox(Error: try to get vga data.,16,)");
}

// --- driver dates

TEST(ConvertWmiDate, ReadsMonthDayYearAndRefusesWhatIsNoDate) {
    auto date = ConvertWmiDate("20061002000000.000000-000");
    ASSERT_TRUE(date);
    EXPECT_EQ(date->year, 2006);
    EXPECT_EQ(date->month, 10);
    EXPECT_EQ(date->day, 2);
    auto leap = ConvertWmiDate("20000229235959");
    ASSERT_TRUE(leap);
    EXPECT_EQ(leap->second, 59);

    for (const char* bad : {"", "2006100200000", "20061302000000.000000-000", "20060230000000", "19000229000000",
                            "20061002240000", "20061002006000", "2006-10-02T00:0", "20061000000000"}) {
        auto refused = ConvertWmiDate(bad);
        ASSERT_FALSE(refused) << bad;
        EXPECT_EQ(refused.failure().number, failure_code::kTypeMismatch);
    }
    // What reaches the Error row is page text, never markup.
    EXPECT_EQ(ConvertWmiDate("<b>").failure().description, "Type mismatch: no valid date in \"&lt;b&gt;\"");
}

TEST(ConvertWmiDate, TextLeavesOutAnExactMidnight) {
    EnglishLocale locale;
    EXPECT_EQ(DriverDateText({2006, 10, 2, 0, 0, 0}, locale), "10/2/2006");
    EXPECT_EQ(DriverDateText({2006, 10, 2, 0, 0, 1}, locale), "10/2/2006 12:00:01 AM");
}

}  // namespace
}  // namespace veltrix
