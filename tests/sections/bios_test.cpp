#include <gtest/gtest.h>

#include "sections/collectors.h"
#include "support/fakes.h"

namespace veltrix {
namespace {

using namespace test;

const std::string kQuery = "Select * from Win32_Bios";

wmi::ObjectPtr bios(wmi::Value serial) {
    return object({{"Manufacturer", text("LENOVO")},
                   {"Description", text("N1CET90W (1.58 )")},
                   {"SMBIOSBIOSVersion", text("N1CET90W")},
                   {"SerialNumber", std::move(serial)}});
}

std::string biosRows(const std::string& serial) {
    return rowLine("Manufacturer", "LENOVO&nbsp;") + rowLine("Description", "N1CET90W (1.58 )&nbsp;") +
           rowLine("SMBIOSBIOSVersion", "N1CET90W&nbsp;") + rowLine("SerialNumber", serial + "&nbsp;");
}

TEST(BiosSection, OneNoneTwoAndNullSerial) {
    struct Case {
        std::vector<wmi::ObjectPtr> objects;
        std::string body;
    };
    const std::vector<Case> cases = {
        {{bios(text("PF0ABCDE"))}, biosRows("PF0ABCDE")},
        {{}, ""},
        {{bios(null())}, biosRows("")},
        {{bios(text("A")), bios(text("B"))}, biosRows("A") + biosRows("B")},  // no spacer between them
    };
    for (const auto& c : cases) {
        ScriptedService service;
        service.answers[kQuery] = {c.objects};
        ScanFixture fx(service);
        WriteBiosSection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("Bios") + c.body + kFootLine);
        EXPECT_EQ(service.monikers, std::vector<std::string>{std::string(wmi::kWmiMoniker)});
    }
}

TEST(BiosSection, UnreachableServiceGivesHeadErrorFoot) {
    ScriptedService service;
    service.connectFailure = Failure{462, "The remote server machine does not exist"};
    ScanFixture fx(service);
    fx.pending.set({5, "left over from an earlier step"});
    WriteBiosSection(fx.scan);
    EXPECT_EQ(fx.lines(), headLines("Bios") + rowLine("Error", "The remote server machine does not exist&nbsp;") + kFootLine);
    EXPECT_FALSE(fx.pending.any());
}

TEST(BiosSection, MarkupInAPropertyStaysText) {
    ScriptedService service;
    service.answers[kQuery] = {{object({{"Manufacturer", text("<b>X</b>")},
                                        {"Description", text("d")},
                                        {"SMBIOSBIOSVersion", text("v")},
                                        {"SerialNumber", text("s")}})}};
    ScanFixture fx(service);
    WriteBiosSection(fx.scan);
    EXPECT_NE(fx.lines().find(rowLine("Manufacturer", "&lt;b&gt;X&lt;/b&gt;&nbsp;")), std::string::npos);
}

}  // namespace
}  // namespace veltrix
