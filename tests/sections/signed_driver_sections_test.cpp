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
const std::string kAllDrivers = "SELECT * FROM Win32_PnPSignedDriver";

std::string macQuery(const std::string& quotedName) {
    return "SELECT MACAddress FROM Win32_NetworkAdapter WHERE Name = '" + quotedName + "' ";
}

wmi::ObjectPtr device(wmi::Value name, std::string deviceClass) {
    return object({{"DeviceName", std::move(name)}, {"DriverVersion", null()}, {"DeviceID", null()},
                   {"DeviceClass", text(std::move(deviceClass))}});
}

TEST(PnpSection, MacOnlyForUpperCaseNetAndQuotedNamesFindTheirAdapter) {
    ScriptedService service;
    service.answers[kPnpQuery] = {{device(text("Joe's \\ NIC"), "NET"), device(text("Other NIC"), "net"),
                                   device(text("Unknown NIC"), "NET")}};  // its MAC query is unscripted: fails
    service.answers[macQuery("Joe\\'s \\\\ NIC")] = {
        {object({{"MACAddress", text("00:11:22:33:44:55")}}), object({{"MACAddress", text("FF:FF:FF:FF:FF:FF")}})}};
    service.answers[macQuery("Other NIC")] = {{object({{"MACAddress", text("00:00:00:00:00:01")}})}};
    ScanFixture fx(service);
    WritePnpSection(fx.scan);
    EXPECT_EQ(fx.lines(), headLines("PNP") + rowLine("DeviceName", "Joe's \\ NIC&nbsp;") +
                              rowLine("MAC Address", "00:11:22:33:44:55") + kSpacerLine +
                              rowLine("DeviceName", "Other NIC&nbsp;") + kSpacerLine +
                              rowLine("DeviceName", "Unknown NIC&nbsp;") + kFootLine)
        << "a failed lookup writes neither a MAC row nor an Error row";
    EXPECT_EQ(service.monikers[1], std::string(wmi::kShortMoniker));
    EXPECT_EQ(QuoteWqlString("a' OR Name LIKE '%"), "a\\' OR Name LIKE \\'%");
}

TEST(DeviceLookups, FirstMatchWinsCaseCountsAndTheCallersErrorSurvives) {
    ScriptedService service;
    service.answers[kAllDrivers] = {{
        object({{"Description", text("Realtek Audio")}, {"DriverVersion", text("")}}),
        object({{"Description", text("realtek audio")}, {"DriverVersion", text("1.0")}}),
        object({{"Description", text("Realtek Audio")}, {"DriverVersion", text("6.0.1.8186")}}),
        object({{"Description", text("Realtek Audio")}, {"DriverVersion", text("7.0")}}),
    }};
    service.answers[macQuery("A")] = {{object({{"MACAddress", null()}}), object({{"MACAddress", text("00:02")}})}};
    ScanFixture fx(service);
    fx.pending.set({7, "caller's"});
    EXPECT_EQ(GetDriverVersionByDescription(fx.scan, "Realtek Audio"), "6.0.1.8186");
    EXPECT_EQ(GetDriverVersionByDescription(fx.scan, "REALTEK AUDIO"), "");
    EXPECT_EQ(GetMacAddressByName(fx.scan, "A"), "") << "only the first adapter counts";
    EXPECT_EQ(GetMacAddressByName(fx.scan, "no such query"), "");
    EXPECT_EQ(fx.pending.failure().description, "caller's");
}

TEST(HeadAtFirstObject, AbsentWhenNothingVisitedTitleOnlyWhenNothingListed) {
    for (bool unreachable : {false, true}) {
        ScriptedService service;
        service.answers[kMediaQuery] = {};
        service.answers[kSecurityQuery] = {};
        if (unreachable) service.connectFailure = Failure{462, "unreachable"};
        ScanFixture fx(service);
        WriteMultiMediaSection(fx.scan);
        WriteSecuritySection(fx.scan);
        EXPECT_EQ(fx.lines(), "") << unreachable;
    }
    ScriptedService service;
    service.answers[kSecurityQuery] = {{device(null(), "Biometricdevice"), device(text(""), "SMARTCARDreader")}};
    ScanFixture fx(service);
    WriteSecuritySection(fx.scan);
    EXPECT_EQ(fx.lines(), headLines("Security") + kFootLine);
}

TEST(MultiMediaSection, EveryDeviceButTheFirstGetsASpacerEvenWithoutRows) {
    ScriptedService service;
    service.answers[kMediaQuery] = {{
        object({{"Description", text("Realtek Audio")}, {"Manufacturer", text("Realtek")}}),
        object({{"Description", null()}, {"Manufacturer", null()}}),
        object({{"Description", null()}, {"Manufacturer", text("Microsoft")}}),
        object({{"Description", text("Camera")}}),  // no Manufacturer property: the failure stays unseen
    }};
    service.answers[kAllDrivers] = {{object({{"Description", text("Realtek Audio")}, {"DriverVersion", text("6.0")}})}};
    ScanFixture fx(service);
    WriteMultiMediaSection(fx.scan);
    EXPECT_EQ(fx.lines(), headLines("MultiMedia") + rowLine("Name", "Realtek Audio&nbsp;") +
                              rowLine("Driver Version", "6.0&nbsp;") + rowLine("Manufacturer", "Realtek&nbsp;") +
                              kSpacerLine + kSpacerLine + rowLine("Manufacturer", "Microsoft&nbsp;") + kSpacerLine +
                              rowLine("Name", "Camera&nbsp;") + kFootLine);
}

}  // namespace
}  // namespace veltrix
