// Whole batch scans over realistic snapshots; the device, network, video,
// slots and assessment sections are compared as literal text.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/locale.h"
#include "support/fakes.h"
#include "support/native_platform.h"
#include "support/temp_folder.h"
#include "ui/console/batch.h"

namespace veltrix {
namespace {

struct Scan {
    int exitCode = -1;
    std::string report;  // CR LF turned into "\n"
    std::string messages;
};

Scan scanSnapshot(const std::string& file) {
    test::TempFolder folder;
    BatchEnvironment environment;
    environment.liveService = []() -> Result<std::shared_ptr<wmi::Service>> {
        return Failure{1, "no live data in tests"};
    };
    environment.makePlatform = [&](const std::string& out) -> std::unique_ptr<Platform> {
        return std::make_unique<test::NativePlatform>(out, (folder / "drive/").string());
    };
    environment.makeLocale = []() -> std::unique_ptr<Locale> { return std::make_unique<EnglishLocale>(); };
    const std::string snapshot =
        std::filesystem::path(file).is_absolute() ? file : std::string(VELTRIX_TEST_DATA) + "/" + file;
    const std::string outputDir = folder.str();
    std::vector<std::string> args = {"veltrix", "--batch", "--name", "PC042", "--snapshot", snapshot,
                                     "--output-dir", outputDir};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());

    Scan scan;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    scan.exitCode = runBatch(static_cast<int>(argv.size()), argv.data(), environment, out, err);
    std::rewind(err);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, err)) > 0) scan.messages.append(buffer, n);
    std::fclose(out);
    std::fclose(err);

    std::ifstream in(folder / "PC042.htm", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    for (char c : s.str()) {
        if (c != '\r') scan.report += c;
    }
    return scan;
}

// The section with this title, from its table start to its foot; empty when
// the report has none.
std::string section(const std::string& report, const std::string& title) {
    const std::string bar = "><strong>&nbsp;" + title + "</strong></td></tr>\n";
    std::size_t at = report.find(bar);
    if (at == std::string::npos) return {};
    std::size_t start = report.rfind("<table border='0' cellpadding='2'", at);
    std::size_t end = report.find("</table><br>\n", at);
    if (start == std::string::npos || end == std::string::npos) return "(malformed)";
    return report.substr(start, end + 13 - start);
}

const Scan& desktop() {
    static const Scan scan = scanSnapshot("desktop-devices.json");
    return scan;
}

const Scan& laptop() {
    static const Scan scan = scanSnapshot("laptop-no-assessment.json");
    return scan;
}

using test::headLines;
using test::kFootLine;
using test::kSpacerLine;
using test::rowLine;

TEST(DeviceSnapshots, DesktopPnpListsNetworkUsbDiskControllerAndMakerDevices) {
    // The first signed driver of the walk has no name: it is counted, so the
    // first listed device gets a spacer.
    const std::string expected =
        "<table border='0' cellpadding='2' cellspacing='0' style='border-collapse:collapse'>\n"
        "<tr><td bgcolor='#000000' class='td1'><font face='Arial' color='#ffffff' ><strong>&nbsp;PNP</strong></td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>&nbsp;</td><td width='550' bgcolor='#d9d9d9' class='td1'>&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DeviceName</td><td width='550' bgcolor='#d9d9d9' class='td1'>Intel(R) Ethernet Connection (17) I219-LM&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DriverVersion</td><td width='550' bgcolor='#d9d9d9' class='td1'>12.19.2.45&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>PNPDeviceID</td><td width='550' bgcolor='#d9d9d9' class='td1'>PCI\\VEN_8086&DEV_1A1C&SUBSYS_0A1C1028&REV_11&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>MAC Address</td><td width='550' bgcolor='#d9d9d9' class='td1'>D0:8E:79:0B:5C:21</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>&nbsp;</td><td width='550' bgcolor='#d9d9d9' class='td1'>&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DeviceName</td><td width='550' bgcolor='#d9d9d9' class='td1'>USB Composite Device&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DriverVersion</td><td width='550' bgcolor='#d9d9d9' class='td1'>10.0.19041.1&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>PNPDeviceID</td><td width='550' bgcolor='#d9d9d9' class='td1'>USB\\VID_046D&PID_C52B\\5&2A7B3C5&0&3&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>&nbsp;</td><td width='550' bgcolor='#d9d9d9' class='td1'>&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DeviceName</td><td width='550' bgcolor='#d9d9d9' class='td1'>Standard SATA AHCI Controller&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DriverVersion</td><td width='550' bgcolor='#d9d9d9' class='td1'>10.0.19041.3636&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>PNPDeviceID</td><td width='550' bgcolor='#d9d9d9' class='td1'>PCI\\VEN_8086&DEV_7AE2&SUBSYS_0A1C1028&REV_11&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>&nbsp;</td><td width='550' bgcolor='#d9d9d9' class='td1'>&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DeviceName</td><td width='550' bgcolor='#d9d9d9' class='td1'>Norvane Hotkey Driver&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DriverVersion</td><td width='550' bgcolor='#d9d9d9' class='td1'>2.1.0.7&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>PNPDeviceID</td><td width='550' bgcolor='#d9d9d9' class='td1'>ACPI\\NRV0001\\0&nbsp;</td></tr>\n"
        "</table><br>\n";
    EXPECT_EQ(section(desktop().report, "PNP"), expected);
    EXPECT_EQ(desktop().exitCode, 0);
}

TEST(DeviceSnapshots, DesktopHidMultiMediaAndNoSecurity) {
    EXPECT_EQ(section(desktop().report, "HID Devices"),
              headLines("HID Devices") + rowLine("DeviceName", "USB Input Device&nbsp;") +
                  rowLine("DriverVersion", "10.0.19041.1&nbsp;") +
                  rowLine("PNPDeviceID", "HID\\VID_046D&PID_C52B&REV_1201&MI_00&nbsp;") +
                  rowLine("Manufacturer", "(Standard system devices)&nbsp;") + kFootLine);
    EXPECT_EQ(section(desktop().report, "MultiMedia"),
              headLines("MultiMedia") + rowLine("Name", "Realtek High Definition Audio&nbsp;") +
                  rowLine("Driver Version", "6.0.9239.1&nbsp;") + rowLine("Manufacturer", "Realtek&nbsp;") + kFootLine);
    EXPECT_EQ(section(desktop().report, "Security"), "");
}

TEST(DeviceSnapshots, DesktopNetworkVideoProblemDevicesSlotsAndScores) {
    EXPECT_EQ(section(desktop().report, "Networkdevices"),
              headLines("Networkdevices") + rowLine("Description", "Intel(R) Ethernet Connection (17) I219-LM&nbsp;") +
                  rowLine("Driver Version", "12.19.2.45&nbsp;") +
                  rowLine("PNPDeviceID", "PCI\\VEN_8086&DEV_1A1C&SUBSYS_0A1C1028&REV_11&nbsp;") +
                  rowLine("Mac-Address", "D0:8E:79:0B:5C:21&nbsp;") + kSpacerLine +
                  rowLine("Description", "Bluetooth Device (Personal Area Network)&nbsp;") +
                  rowLine("PNPDeviceID", "BTH\\MS_BTHPAN\\6&1A2B3C4D&0&2&nbsp;") +
                  rowLine("Mac-Address", "F4:4E:E3:1A:22:9B&nbsp;") + kFootLine);
    // AdapterRAM is unsigned: 2 GB of video memory is shown like any other size.
    EXPECT_EQ(section(desktop().report, "VGA"),
              headLines("VGA") + rowLine("Name", "NVIDIA T400&nbsp;") + rowLine("DeviceID", "VideoController1&nbsp;") +
                  rowLine("PNPDeviceID", "PCI\\VEN_10DE&DEV_1FF2&SUBSYS_1613103C&REV_A1&nbsp;") +
                  rowLine("DriverVersion", "31.0.15.3713&nbsp;") + rowLine("DriverDate", "8/30/2023&nbsp;") +
                  rowLine("VideoMode", "1280 x 1024") + rowLine("Colour_bits", "32&nbsp;") +
                  rowLine("Video-RAM", "2048 MB") + kSpacerLine +
                  rowLine("Name", "Intel(R) UHD Graphics 770&nbsp;") + rowLine("DeviceID", "VideoController2&nbsp;") +
                  rowLine("PNPDeviceID", "PCI\\VEN_8086&DEV_4690&SUBSYS_0A1C1028&REV_0C&nbsp;") +
                  rowLine("DriverVersion", "31.0.101.4502&nbsp;") +
                  rowLine("DriverDate", "6/14/2023 5:32:05 PM&nbsp;") + rowLine("Video-RAM", "1024 MB") + kFootLine);
    EXPECT_EQ(section(desktop().report, "additional installed hardware"),
              headLines("additional installed hardware") +
                  rowLine("<b>Name</b>", "<b>PCI Simple Communications Controller</b>") +
                  rowLine("Status", "Errorcode:28<p>The drivers for this device are not installed.") +
                  rowLine("DeviceID", "PCI\\VEN_8086&DEV_7AE8&SUBSYS_0A1C1028&REV_11&nbsp;") + kSpacerLine +
                  rowLine("<b>Name</b>", "<b>Intel(R) Serial IO I2C Host Controller - 7AFC</b>") +
                  rowLine("Status", "Errorcode:3<p>") + rowLine("Service", "iaLPSS2_I2C_ADL&nbsp;") +
                  rowLine("DeviceID", "PCI\\VEN_8086&DEV_7AFC&SUBSYS_0A1C1028&REV_11&nbsp;") + kFootLine);
    EXPECT_EQ(section(desktop().report, "Slots"),
              headLines("Slots") +
                  "<tr><td width='150' bgcolor='#d9d9d9' class='td1'><table border='0' cellspacing='3' cellpadding='0'>"
                  "<tr><td>Tag</td></tr><tr><td>Slot Description</td></tr><tr><td>Belegung</td></tr></table></td>"
                  "<td width='550' bgcolor='#d9d9d9' class='td1'><table border='0' cellspacing='0' cellpadding='0'><tr>"
                  "<td><table border='0 ' cellspacing='3' cellpadding='0'><tr><td>System Slot 0</td></tr><tr><td>SLOT1"
                  "</td></tr><tr><td>Ja</td></tr></table></td>"
                  "<td><table border='0 ' cellspacing='3' cellpadding='0'><tr><td>System Slot 1</td></tr><tr><td>SLOT2"
                  "</td></tr><tr><td>Nein</td></tr></table></td>"
                  "<td><table border='0 ' cellspacing='3' cellpadding='0'><tr><td>System Slot 2</td></tr><tr><td>M.2 SLOT"
                  "</td></tr><tr><td>Ja</td></tr></table></td></table></td></tr>\n" +
                  kFootLine);
    EXPECT_EQ(section(desktop().report, "Windows System Assessment (Scoring)"),
              headLines("Windows System Assessment (Scoring)") + rowLine("Processor", "8.1&nbsp;") +
                  rowLine("Memory", "8.1&nbsp;") + rowLine("Primary hard disk", "8.15&nbsp;") +
                  rowLine("Graphics", "6.5&nbsp;") + rowLine("Gaming graphics", "9.9&nbsp;") +
                  rowLine("Windows System Performance Rating", "6.5&nbsp;") + kFootLine);
    EXPECT_EQ(desktop().messages.find("vga"), std::string::npos);
}

TEST(DeviceSnapshots, NotebookWithoutAssessmentOrConnectedAdapter) {
    const Scan& scan = laptop();
    EXPECT_EQ(section(scan.report, "Windows System Assessment (Scoring)"),
              headLines("Windows System Assessment (Scoring)") + rowLine("-", "-&nbsp;") + kFootLine);
    EXPECT_EQ(section(scan.report, "Networkdevices"),
              headLines("Networkdevices") + rowLine("&nbsp;", "Networkdevices not present.") + kFootLine);
    EXPECT_EQ(section(scan.report, "PNP"), headLines("PNP") + kFootLine);
    EXPECT_EQ(section(scan.report, "HID Devices"), headLines("HID Devices") + kFootLine);
    EXPECT_EQ(section(scan.report, "MultiMedia"), "");
    EXPECT_EQ(section(scan.report, "additional installed hardware"), "");
    EXPECT_EQ(section(scan.report, "not installed hardware"), "");
    EXPECT_EQ(section(scan.report, "Security"),
              headLines("Security") + kSpacerLine + rowLine("DeviceName", "Validity Sensors (WBF) (PID=0017)&nbsp;") +
                  rowLine("DriverVersion", "4.4.232.0&nbsp;") +
                  rowLine("PNPDeviceID", "USB\\VID_138A&PID_0017\\00B0FE47AC85&nbsp;") + kFootLine);
    EXPECT_EQ(section(scan.report, "Slots"),
              headLines("Slots") +
                  rowLine("<table border='0' cellspacing='3' cellpadding='0'><tr><td>Tag</td></tr><tr><td>Slot "
                          "Description</td></tr><tr><td>Belegung</td></tr></table>",
                          "<table border='0' cellspacing='0' cellpadding='0'><tr></table>") +
                  kFootLine);
    // A truncated driver date: no "DriverDate" row, the box, and the Error
    // row after the rows that followed it.
    const std::string expectedVga =
        "<table border='0' cellpadding='2' cellspacing='0' style='border-collapse:collapse'>\n"
        "<tr><td bgcolor='#000000' class='td1'><font face='Arial' color='#ffffff' ><strong>&nbsp;VGA</strong></td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>Name</td><td width='550' bgcolor='#d9d9d9' class='td1'>Intel(R) HD Graphics 4000&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DeviceID</td><td width='550' bgcolor='#d9d9d9' class='td1'>VideoController1&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>PNPDeviceID</td><td width='550' bgcolor='#d9d9d9' class='td1'>PCI\\VEN_8086&DEV_0166&SUBSYS_21F317AA&REV_09&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DriverVersion</td><td width='550' bgcolor='#d9d9d9' class='td1'>10.18.10.4276&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>VideoMode</td><td width='550' bgcolor='#d9d9d9' class='td1'>1366 x 768</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>Colour_bits</td><td width='550' bgcolor='#d9d9d9' class='td1'>32&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>Video-RAM</td><td width='550' bgcolor='#d9d9d9' class='td1'>2016 MB</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>Error</td><td width='550' bgcolor='#d9d9d9' class='td1'>Type mismatch: no valid date in \"20150713\"&nbsp;</td></tr>\n"
        "</table><br>\n";
    EXPECT_EQ(section(scan.report, "VGA"), expectedVga);
    EXPECT_NE(scan.messages.find("Veltrix (error): Error: try to get vga data.\n"), std::string::npos);
    EXPECT_EQ(scan.exitCode, 0) << "a section's failure stays inside the report";
}

TEST(DeviceSnapshots, UnreachableServiceShowsInEverySectionThatReportsFailures) {
    test::TempFolder folder;
    const std::string file = (folder / "unreachable.json").string();
    std::ofstream(file) << R"({"veltrix-snapshot": 1, "source": "test",
        "connect-error": {"number": 462, "description": "The remote server machine does not exist"},
        "namespaces": {}})";
    const Scan scan = scanSnapshot(file);
    const std::string error = rowLine("Error", "The remote server machine does not exist&nbsp;");
    EXPECT_EQ(section(scan.report, "Networkdevices"),
              headLines("Networkdevices") + rowLine("&nbsp;", "Networkdevices not present.") + error + kFootLine);
    EXPECT_EQ(section(scan.report, "VGA"), headLines("VGA") + error + kFootLine);
    EXPECT_EQ(section(scan.report, "PNP"), headLines("PNP") + error + kFootLine);
    EXPECT_EQ(section(scan.report, "HID Devices"), headLines("HID Devices") + error + kFootLine);
    EXPECT_EQ(section(scan.report, "Slots"), headLines("Slots") + error + kFootLine);
    EXPECT_EQ(section(scan.report, "not installed hardware"), headLines("not installed hardware") + error + kFootLine);
    EXPECT_EQ(section(scan.report, "Windows System Assessment (Scoring)"),
              headLines("Windows System Assessment (Scoring)") + rowLine("-", "-&nbsp;") + kFootLine);
    EXPECT_EQ(section(scan.report, "MultiMedia"), "");
    EXPECT_EQ(section(scan.report, "Security"), "");
    EXPECT_NE(scan.messages.find("Error: try to get vga data."), std::string::npos);
}

}  // namespace
}  // namespace veltrix
