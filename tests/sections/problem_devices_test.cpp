#include <gtest/gtest.h>

#include "sections/collectors.h"
#include "support/fakes.h"

namespace veltrix {
namespace {

using namespace test;

const std::string kQuery = "Select * from Win32_PnPEntity Where ConfigManagerErrorCode <> '0'";

wmi::ObjectPtr device(wmi::Value code, wmi::Value name, wmi::Value service, wmi::Value id) {
    return object({{"ConfigManagerErrorCode", std::move(code)},
                   {"Name", std::move(name)},
                   {"Service", std::move(service)},
                   {"DeviceID", std::move(id)}});
}

std::string nameRow(const std::string& name) { return rowLine("<b>Name</b>", "<b>" + name + "</b>"); }

TEST(ProblemDevicesSection, LiteralSectionForADisabledHub) {
    ScriptedService service;
    service.answers[kQuery] = {{device(int32(22), text("USB Root Hub"), text("usbhub"),
                                       text("USB\\VID_8086&PID_1E2D&REV_0004\\3&2B8E0B4B&0&E8"))}};
    ScanFixture fx(service);
    WriteProblemDevicesSection(fx.scan);
    const std::string expected =
        "<table border='0' cellpadding='2' cellspacing='0' style='border-collapse:collapse'>\n"
        "<tr><td bgcolor='#000000' class='td1'><font face='Arial' color='#ffffff' ><strong>&nbsp;additional installed hardware</strong></td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'><b>Name</b></td><td width='550' bgcolor='#d9d9d9' class='td1'><b>USB Root Hub</b></td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>Status</td><td width='550' bgcolor='#d9d9d9' class='td1'>Errorcode:22<p>This device is disabled.</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>Service</td><td width='550' bgcolor='#d9d9d9' class='td1'>usbhub&nbsp;</td></tr>\n"
        "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>DeviceID</td><td width='550' bgcolor='#d9d9d9' class='td1'>USB\\VID_8086&PID_1E2D&REV_0004&nbsp;</td></tr>\n"
        "</table><br>\n";
    EXPECT_EQ(fx.lines(), expected);
}

TEST(ProblemDevicesSection, MessagesAreLookedUpAfreshAndUnnamedDevicesAreNotCounted) {
    ScriptedService service;
    service.answers[kQuery] = {{
        device(int32(28), null(), text("x"), text("y")),  // skipped, not counted
        device(int32(28), text("Unknown device"), text(""), text("")),
        device(int32(3), text("Low resources"), null(), null()),
        device(text("31"), text("From digits"), null(), null()),  // a code delivered as text still finds its message
    }};
    ScanFixture fx(service);
    WriteProblemDevicesSection(fx.scan);
    EXPECT_EQ(fx.lines(), headLines("additional installed hardware") + nameRow("Unknown device") +
                              rowLine("Status", "Errorcode:28<p>The drivers for this device are not installed.") +
                              kSpacerLine + nameRow("Low resources") + rowLine("Status", "Errorcode:3<p>") +
                              kSpacerLine + nameRow("From digits") +
                              rowLine("Status",
                                      "Errorcode:31<p>This device is not working properly because Windows cannot "
                                      "load the drivers required for this device.") +
                              kFootLine);
}

TEST(ProblemDevicesSection, AbsentWhenCleanOwnTitleWhenOnlyAFailure) {
    {
        ScriptedService service;
        service.answers[kQuery] = {};
        ScanFixture fx(service);
        WriteProblemDevicesSection(fx.scan);
        EXPECT_EQ(fx.lines(), "");
    }
    {
        ScriptedService service;
        service.connectFailure = Failure{462, "The remote server machine does not exist"};
        ScanFixture fx(service);
        WriteProblemDevicesSection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("not installed hardware") +
                                  rowLine("Error", "The remote server machine does not exist&nbsp;") + kFootLine);
    }
    {
        // A failed read in a listed device: that row is left out and the
        // failure is reported at the end of the listed section.
        ScriptedService service;
        service.answers[kQuery] = {{object({{"ConfigManagerErrorCode", int32(10)}, {"Name", text("<Camera>")}, {"DeviceID", null()}})}};
        ScanFixture fx(service);
        WriteProblemDevicesSection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("additional installed hardware") + nameRow("&lt;Camera&gt;") +
                                  rowLine("Status", "Errorcode:10<p>This device cannot start.") +
                                  rowLine("Error", "Not found: the object has no property Service&nbsp;") + kFootLine);
    }
}

}  // namespace
}  // namespace veltrix
