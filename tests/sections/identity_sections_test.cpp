#include <gtest/gtest.h>

#include "core/version.h"
#include "sections/collectors.h"
#include "support/fixed_clock_platform.h"
#include "support/section_run.h"

namespace veltrix {
namespace {

using namespace test;

TEST(IdentitySections, PropertiesShowBuildVersionAndScanTime) {
    ScriptedService service;
    for (const auto& [when, shown] : {std::pair{DateTime{2026, 12, 7, 9, 5, 59}, "07-December-2026 09:05"},
                                      std::pair{DateTime{2027, 1, 31, 14, 30, 0}, "31-January-2027 14:30"}}) {
        FixedClockPlatform platform("/nonexistent", "/nonexistent/", when);
        ScanFixture fx(service, &platform);
        fx.pending.set({53, "File not found"});  // left by the tool start before it
        WritePropertiesSection(fx.scan);
        EXPECT_EQ(fx.lines(), section("Veltrixproperties", rowLine("Veltrix-Version", std::string(kVersionText) + "&nbsp;") +
                                                               rowLine("Veltrix generated", std::string(shown) + "&nbsp;")));
    }
    EXPECT_TRUE(service.monikers.empty());
}

TEST(IdentitySections, ConversionGuardTellsNullFromEmptyText) {
    ScriptedService service;
    service.answers["SELECT SerialNumber FROM Win32_SystemEnclosure"].objects = {
        object({{"SerialNumber", text("")}}), object({{"SerialNumber", null()}}), object({{"SerialNumber", text("PF3X")}})};
    service.answers["SELECT * FROM Win32_ComputerSystemProduct"].objects = {
        object({{"Name", null()}}), object({{"Name", text("")}}), object({{"Name", text("20XW")}})};
    EXPECT_EQ(runSection(WriteSystemInfoSection, service).lines,
              section("Systeminformation", rowLine("Serial Number", "Unkown&nbsp;") + rowLine("Serial Number", "&nbsp;") +
                                               rowLine("Serial Number", "PF3X&nbsp;") + rowLine("Product", "20XW&nbsp;")));

    ScriptedService boards;
    boards.answers["SELECT * FROM Win32_BaseBoard"].objects = {
        object({{"Product", text("")}, {"Version", text("1.0")}}), object({{"Product", null()}, {"Version", text("2.0")}})};
    boards.answers["SELECT Version FROM Win32_BaseBoard"].objects = {object({{"Version", text("")}}),
                                                                     object({{"Version", null()}})};
    boards.answers["SELECT Manufacturer FROM Win32_BaseBoard"].objects = {object({{"Manufacturer", text("LENOVO")}})};
    boards.answers["SELECT SerialNumber FROM Win32_BaseBoard"].objects = {object({{"SerialNumber", null()}})};
    boards.answers["SELECT Manufacturer FROM Win32_ComputerSystem"].objects = {object({{"Manufacturer", text("")}})};
    auto run = runSection(WriteMotherboardSection, boards);
    EXPECT_EQ(run.lines, section("Motherboard", rowLine("Product", "Unkown&nbsp;") + rowLine("Product", "&nbsp;") +
                                                    rowLine("Version", "2.0&nbsp;") + rowLine("Boardversion", "Unkown&nbsp;") +
                                                    rowLine("Boardversion", "&nbsp;") +
                                                    rowLine("Manufacturer (BaseBoard)", "LENOVO&nbsp;")));
    EXPECT_TRUE(run.boxes.empty());
}

TEST(IdentitySections, EachReportedBlockShowsOnlyItsOwnFailure) {
    ScriptedService service;  // the first two board queries are unanswered: never reported
    service.answers["SELECT Manufacturer FROM Win32_BaseBoard"].objects = {object({{"Manufacturer", text("ASUS")}})};
    service.answers["SELECT SerialNumber FROM Win32_BaseBoard"] = {{}, Failure{4112, "Invalid class"}};
    service.answers["SELECT Manufacturer FROM Win32_ComputerSystem"].objects = {object({{"Manufacturer", text("ACME")}})};
    auto run = runSection(WriteMotherboardSection, service);
    EXPECT_EQ(run.lines, section("Motherboard", rowLine("Manufacturer (BaseBoard)", "ASUS&nbsp;") +
                                                    rowLine("Error", "Invalid class&nbsp;") +
                                                    rowLine("Manufacturer (System)", "ACME&nbsp;")));
    EXPECT_EQ(run.boxes, std::vector<std::string>{"Error: try to get Motherboardserial in Modul 'MB'"});
    EXPECT_EQ(service.monikers.size(), 5u) << "every block connects anew";
}

}  // namespace
}  // namespace veltrix
