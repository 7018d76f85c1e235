#include <gtest/gtest.h>

#include "sections/collectors.h"
#include "sections/device_lookups.h"
#include "support/fakes.h"

namespace veltrix {
namespace {

using namespace test;

const std::string kPnpQuery =
    "SELECT * FROM Win32_PnPSignedDriver WHERE (Location LIKE '%PCI%') OR DeviceClass='USB' OR "
    "DeviceClass='HDC' OR (DeviceID LIKE '%NRV0%')";
const std::string kMediaQuery = "SELECT * FROM Win32_PnPSignedDriver WHERE (DeviceClass='MEDIA') OR DeviceClass='IMAGE'";
const std::string kSecurityQuery =
    "SELECT * FROM Win32_PnPSignedDriver WHERE (DeviceClass='Biometricdevice') OR DeviceClass='Securitydevices' "
    "OR DeviceClass='SMARTCARDreader'";
const std::string kHidQuery = "SELECT * FROM Win32_PnPSignedDriver WHERE DeviceClass='HIDCLASS'";
const std::string kAllDrivers = "SELECT * FROM Win32_PnPSignedDriver";

std::string macQuery(const std::string& quotedName) {
    return "SELECT MACAddress FROM Win32_NetworkAdapter WHERE Name = '" + quotedName + "' ";
}

wmi::ObjectPtr driver(wmi::Value name, wmi::Value deviceClass, wmi::Value id = text("PCI\\VEN_8086&DEV_10D3&SUBSYS_040D8086&REV_00\\4&1C3D25BB&0&00E1"),
                      wmi::Value version = text("12.6.47.1")) {
    return object({{"DeviceName", std::move(name)},
                   {"DriverVersion", std::move(version)},
                   {"DeviceID", std::move(id)},
                   {"DeviceClass", std::move(deviceClass)},
                   {"Description", text("d")},
                   {"Manufacturer", text("Intel")}});
}

// --- PNP

TEST(PnpSection, LiteralSectionWithSpacerAfterAnUnlistedFirstObjectAndMacOnlyForNet) {
    ScriptedService service;
    service.answers[kPnpQuery] = {{
        driver(null(), text("SYSTEM")),  // visited, not listed: still counted
        driver(text("Intel(R) 82574L Gigabit Network Connection"), text("NET")),
        driver(text("Other Adapter"), text("net"), text("USB\\ROOT_HUB20\\4&2C3E9A5&0"), null()),
    }};
    service.answers[macQuery("Intel(R) 82574L Gigabit Network Connection")] = {
        {object({{"MACAddress", text("00:1B:21:3A:4F:10")}}), object({{"MACAddress", text("FF:FF:FF:FF:FF:FF")}})}};
    service.answers[macQuery("Other Adapter")] = {{object({{"MACAddress", text("00:00:00:00:00:01")}})}};
    ScanFixture fx(service);
    WritePnpSection(fx.scan);
    const std::string expected =
        "<table border='0' cellpadding='2' cellspacing='0' style='border-collapse:collapse'>\n"
        "<tr><td bgcolor='#000000' class='td1'><font face='Arial' color='#ffffff' ><strong>&nbsp;PNP</strong></td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>&nbsp;</td><td width='550' bgcolor='#d9d9d9' class='td1'>&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DeviceName</td><td width='550' bgcolor='#d9d9d9' class='td1'>Intel(R) 82574L Gigabit Network Connection&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DriverVersion</td><td width='550' bgcolor='#d9d9d9' class='td1'>12.6.47.1&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>PNPDeviceID</td><td width='550' bgcolor='#d9d9d9' class='td1'>PCI\\VEN_8086&DEV_10D3&SUBSYS_040D8086&REV_00&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>MAC Address</td><td width='550' bgcolor='#d9d9d9' class='td1'>00:1B:21:3A:4F:10</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>&nbsp;</td><td width='550' bgcolor='#d9d9d9' class='td1'>&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DeviceName</td><td width='550' bgcolor='#d9d9d9' class='td1'>Other Adapter&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>PNPDeviceID</td><td width='550' bgcolor='#d9d9d9' class='td1'>USB\\ROOT_HUB20\\4&2C3E9A5&0&nbsp;</td></tr>\n"
        "</table><br>\n";
    EXPECT_EQ(fx.lines(), expected);
    // The lower-case class never reaches the MAC lookup.
    EXPECT_EQ(service.queries, (std::vector<std::string>{kPnpQuery, macQuery("Intel(R) 82574L Gigabit Network Connection")}));
    EXPECT_EQ(service.monikers,
              (std::vector<std::string>{std::string(wmi::kShortMoniker), std::string(wmi::kShortMoniker)}));
}

TEST(PnpSection, FirstListedObjectGetsNoSpacerAndEmptyOrUnreachableKeepsTheTable) {
    {
        ScriptedService service;
        service.answers[kPnpQuery] = {{driver(text("A"), text("USB"), null(), null()), driver(text("B"), text("USB"), null(), null())}};
        ScanFixture fx(service);
        WritePnpSection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("PNP") + rowLine("DeviceName", "A&nbsp;") + kSpacerLine +
                                  rowLine("DeviceName", "B&nbsp;") + kFootLine);
    }
    {
        ScriptedService service;
        service.answers[kPnpQuery] = {};
        ScanFixture fx(service);
        WritePnpSection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("PNP") + kFootLine);
    }
    {
        ScriptedService service;
        service.connectFailure = Failure{462, "The remote server machine does not exist"};
        ScanFixture fx(service);
        WritePnpSection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("PNP") + rowLine("Error", "The remote server machine does not exist&nbsp;") +
                                  kFootLine);
    }
}

TEST(PnpSection, QuoteInAdapterNameFindsItsMacAndALookupFailureLeavesTheCallersErrorAlone) {
    ScriptedService service;
    auto broken = object({{"DeviceName", text("No version property")}, {"DeviceID", null()}, {"DeviceClass", text("USB")}});
    service.answers[kPnpQuery] = {{
        broken,
        driver(text("Joe's \\ NIC"), text("NET"), null(), null()),
        driver(text("Unknown NIC"), text("NET"), null(), null()),  // its MAC query is unscripted: fails
    }};
    service.answers[macQuery("Joe\\'s \\\\ NIC")] = {{object({{"MACAddress", text("00:11:22:33:44:55")}})}};
    ScanFixture fx(service);
    WritePnpSection(fx.scan);
    EXPECT_EQ(fx.lines(), headLines("PNP") + rowLine("DeviceName", "No version property&nbsp;") + kSpacerLine +
                              rowLine("DeviceName", "Joe's \\ NIC&nbsp;") + rowLine("MAC Address", "00:11:22:33:44:55") +
                              kSpacerLine + rowLine("DeviceName", "Unknown NIC&nbsp;") +
                              rowLine("Error", "Not found: the object has no property DriverVersion&nbsp;") + kFootLine);
}

TEST(DeviceLookups, MacLookupReadsOnlyTheFirstAdapterAndAnswersEmptyOnFailure) {
    ScriptedService service;
    service.answers[macQuery("A")] = {{object({{"MACAddress", null()}}), object({{"MACAddress", text("00:00:00:00:00:02")}})}};
    service.answers[macQuery("B")] = {{}, Failure{4119, "Invalid query"}};
    ScanFixture fx(service);
    fx.pending.set({7, "caller's"});
    EXPECT_EQ(GetMacAddressByName(fx.scan, "A"), "");
    EXPECT_EQ(GetMacAddressByName(fx.scan, "B"), "");
    EXPECT_EQ(fx.pending.failure().description, "caller's");
}

TEST(DeviceLookups, QuotingForWqlEscapesQuotesAndBackslashes) {
    EXPECT_EQ(QuoteWqlString("a' OR Name LIKE '%"), "a\\' OR Name LIKE \\'%");
    EXPECT_EQ(QuoteWqlString("C:\\x\\'"), "C:\\\\x\\\\\\'");
    EXPECT_EQ(QuoteWqlString("plain"), "plain");
}

TEST(DeviceLookups, DriverVersionFirstMatchWinsCaseSensitiveAndNeedsAVersion) {
    ScriptedService service;
    service.answers[kAllDrivers] = {{
        object({{"Description", text("Realtek High Definition Audio")}, {"DriverVersion", text("")}}),
        object({{"Description", text("realtek high definition audio")}, {"DriverVersion", text("1.0")}}),
        object({{"Description", null()}, {"DriverVersion", text("9.9")}}),
        object({{"Description", text("Realtek High Definition Audio")}, {"DriverVersion", text("6.0.1.8186")}}),
        object({{"Description", text("Realtek High Definition Audio")}, {"DriverVersion", text("7.0")}}),
    }};
    ScanFixture fx(service);
    fx.pending.set({7, "caller's"});
    EXPECT_EQ(GetDriverVersionByDescription(fx.scan, "Realtek High Definition Audio"), "6.0.1.8186");
    EXPECT_EQ(GetDriverVersionByDescription(fx.scan, "REALTEK HIGH DEFINITION AUDIO"), "");
    EXPECT_EQ(fx.pending.failure().description, "caller's");
    EXPECT_EQ(service.monikers.back(), std::string(wmi::kWmiMoniker));

    ScriptedService down;
    down.connectFailure = Failure{462, "unreachable"};
    ScanFixture fx2(down);
    EXPECT_EQ(GetDriverVersionByDescription(fx2.scan, "x"), "");
    EXPECT_FALSE(fx2.pending.any());
}

// --- MultiMedia

TEST(MultiMediaSection, AbsentWhenNothingOrUnreachableAndSpacerEvenForARowlessDevice) {
    for (bool unreachable : {false, true}) {
        ScriptedService service;
        service.answers[kMediaQuery] = {};
        if (unreachable) service.connectFailure = Failure{462, "unreachable"};
        ScanFixture fx(service);
        WriteMultiMediaSection(fx.scan);
        EXPECT_EQ(fx.lines(), "") << unreachable;
    }

    ScriptedService service;
    service.answers[kMediaQuery] = {{
        object({{"Description", text("Realtek High Definition Audio")}, {"Manufacturer", text("Realtek")}}),
        object({{"Description", null()}, {"Manufacturer", null()}}),  // spacer and nothing else
        object({{"Description", null()}, {"Manufacturer", text("Microsoft")}}),
        object({{"Description", text("Integrated Camera")}, {"Manufacturer", text("")}}),
    }};
    service.answers[kAllDrivers] = {{
        object({{"Description", text("Realtek High Definition Audio")}, {"DriverVersion", text("6.0.1.8186")}}),
    }};
    ScanFixture fx(service);
    WriteMultiMediaSection(fx.scan);
    EXPECT_EQ(fx.lines(), headLines("MultiMedia") + rowLine("Name", "Realtek High Definition Audio&nbsp;") +
                              rowLine("Driver Version", "6.0.1.8186&nbsp;") + rowLine("Manufacturer", "Realtek&nbsp;") +
                              kSpacerLine + kSpacerLine + rowLine("Manufacturer", "Microsoft&nbsp;") + kSpacerLine +
                              rowLine("Name", "Integrated Camera&nbsp;") + kFootLine);
    EXPECT_EQ(service.monikers.front(), std::string(wmi::kWmiMoniker));
}

TEST(MultiMediaSection, FailuresShowOnlyAsMissingRows) {
    ScriptedService service;
    service.answers[kMediaQuery] = {{object({{"Description", text("Sound")}})}};  // no Manufacturer property
    service.answers[kAllDrivers] = {{}, Failure{4119, "lookup broken"}};
    ScanFixture fx(service);
    WriteMultiMediaSection(fx.scan);
    EXPECT_EQ(fx.lines(), headLines("MultiMedia") + rowLine("Name", "Sound&nbsp;") + kFootLine);
    EXPECT_FALSE(fx.pending.any());
}

// --- Security

TEST(SecuritySection, AbsentEmptyOrListedWithTheFullDeviceId) {
    {
        ScriptedService service;
        service.answers[kSecurityQuery] = {};
        ScanFixture fx(service);
        WriteSecuritySection(fx.scan);
        EXPECT_EQ(fx.lines(), "");
    }
    {
        // Objects were visited but none has a name: the title bar and foot only.
        ScriptedService service;
        service.answers[kSecurityQuery] = {{driver(null(), text("Biometricdevice")), driver(text(""), text("Biometricdevice"))}};
        ScanFixture fx(service);
        WriteSecuritySection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("Security") + kFootLine);
    }
    {
        ScriptedService service;
        service.answers[kSecurityQuery] = {{driver(null(), text("SMARTCARDreader")),
                                            driver(text("Validity Fingerprint Sensor"), text("Biometricdevice"),
                                                   text("USB\\VID_138A&PID_0017&REV_0078\\00B0FE47AC85"))}};
        ScanFixture fx(service);
        WriteSecuritySection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("Security") + kSpacerLine +
                                  rowLine("DeviceName", "Validity Fingerprint Sensor&nbsp;") +
                                  rowLine("DriverVersion", "12.6.47.1&nbsp;") +
                                  rowLine("PNPDeviceID", "USB\\VID_138A&PID_0017&REV_0078\\00B0FE47AC85&nbsp;") +
                                  kFootLine);
        EXPECT_EQ(service.monikers.front(), std::string(wmi::kShortMoniker));
    }
}

TEST(SecuritySection, AFailureWritesNoErrorRow) {
    ScriptedService service;
    service.answers[kSecurityQuery] = {{driver(text("Reader"), text("SMARTCARDreader"))}, std::nullopt, 1};
    ScanFixture fx(service);
    WriteSecuritySection(fx.scan);
    EXPECT_EQ(fx.lines().find("Error"), std::string::npos);
    EXPECT_EQ(fx.lines().substr(fx.lines().size() - kFootLine.size()), kFootLine);
}

// --- HID Devices

TEST(HidSection, EagerHeadCutIdsManufacturerAndErrorRow) {
    {
        ScriptedService service;
        service.answers[kHidQuery] = {};
        ScanFixture fx(service);
        WriteHidSection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("HID Devices") + kFootLine);
    }
    {
        ScriptedService service;
        service.answers[kHidQuery] = {
            {driver(text("USB Input Device"), text("HIDCLASS"), text("HID\\VID_046D&PID_C52B&REV_1201&MI_00\\7&2A7B3C5&0&0000")),
             driver(text("HID Keyboard"), text("HIDCLASS"), null())},
            std::nullopt,
            2};
        ScanFixture fx(service);
        WriteHidSection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("HID Devices") + rowLine("DeviceName", "USB Input Device&nbsp;") +
                                  rowLine("DriverVersion", "12.6.47.1&nbsp;") +
                                  rowLine("PNPDeviceID", "HID\\VID_046D&PID_C52B&REV_1201&MI_00&nbsp;") +
                                  rowLine("Manufacturer", "Intel&nbsp;") + kSpacerLine +
                                  rowLine("DeviceName", "HID Keyboard&nbsp;") +
                                  rowLine("DriverVersion", "12.6.47.1&nbsp;") + rowLine("Manufacturer", "Intel&nbsp;") +
                                  rowLine("Error", "Generic failure (walk)&nbsp;") + kFootLine);
        EXPECT_EQ(service.monikers.front(), std::string(wmi::kShortMoniker));
    }
}

}  // namespace
}  // namespace veltrix
