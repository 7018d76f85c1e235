#include <gtest/gtest.h>

#include "sections/collectors.h"
#include "support/section_run.h"

namespace veltrix {
namespace {

using namespace test;

wmi::ObjectPtr cdrom(wmi::Value caption, wmi::Value deviceId = text("IDE\\CDROM1")) {
    return object({{"Caption", std::move(caption)}, {"Id", text("E:")}, {"DeviceID", std::move(deviceId)},
                   {"MfrAssignedRevisionlevel", text("1.02")}});
}

wmi::ObjectPtr keyboard(std::string name, wmi::Value layout) {
    return object({{"Description", text(std::move(name))}, {"Layout", std::move(layout)},
                   {"PNPDeviceID", text("HID\\KB")}});
}

TEST(DeviceSections, CdromSpacerOnlyBetweenListedDrivesAndFirmwareNeedsDeviceId) {
    auto run = runSection(WriteCdromSection, "Select * from Win32_CDROMDrive",
                          {cdrom(text("")), cdrom(text("DVD-RW")), cdrom(null()), cdrom(text("BD-ROM"), null())});
    EXPECT_EQ(run.lines, section("CDROM", rowLine("Name", "DVD-RW&nbsp;") + rowLine("ID", "E:&nbsp;") +
                                              rowLine("Firmware", "1.02&nbsp;") + kSpacerLine +
                                              rowLine("Name", "BD-ROM&nbsp;") + rowLine("ID", "E:&nbsp;")));
}

TEST(DeviceSections, SpacerRulesOfEachFamily) {
    // The processor counter counts every object: an unlisted first one puts
    // a spacer right under the head.
    auto cpu = runSection(WriteCpuSection, "Select * from Win32_Processor",
                          {object({{"DeviceID", null()}}),
                           object({{"Name", text("Xeon")}, {"DeviceID", text("CPU1")}, {"NumberOfCores", int32(4)},
                                   {"NumberOfLogicalProcessors", null()}, {"MaxClockSpeed", int32(2400)},
                                   {"Description", text("")}, {"L2CacheSize", int32(0)}})});
    EXPECT_EQ(cpu.lines, section("CPU", kSpacerLine + rowLine("Name", "Xeon&nbsp;") + rowLine("DeviceID", "CPU1&nbsp;") +
                                            rowLine("NumberOfCores", "4&nbsp;") +
                                            rowLine("MaxClockSpeed", "2400&nbsp;") +
                                            rowLine("L2CacheSize", "0&nbsp;")));
    // The pointing-device spacer comes before the description test.
    auto mouse = runSection(WriteMouseSection, "Select * from Win32_PointingDevice",
                            {object({{"Description", text("PS/2 mouse")}, {"Manufacturer", null()},
                                     {"PNPDeviceID", text("ACPI\\PNP0F13\\4&1")}}),
                             object({{"Description", text("")}})});
    EXPECT_EQ(mouse.lines, section("Mouse", rowLine("Name", "PS/2 mouse&nbsp;") +
                                                rowLine("PNPDeviceID", "ACPI\\PNP0F13\\4&1&nbsp;") + kSpacerLine));
    EXPECT_EQ(runSection(WriteMouseSection, "Select * from Win32_PointingDevice", {}).lines, section("Mouse", ""));
    // Modems are never separated.
    auto modem = runSection(WriteModemSection,
                            "SELECT AttachedTo,Caption FROM Win32_POTSModem WHERE PNPDeviceID IS NOT NULL",
                            {object({{"AttachedTo", null()}, {"Caption", text("Fax")}}),
                             object({{"AttachedTo", text("COM3")}, {"Caption", text("V.92")}})});
    EXPECT_EQ(modem.lines, section("Modem", rowLine("Name", "Fax&nbsp;") + rowLine("Name", "V.92&nbsp;") +
                                                rowLine("ModemCom", "COM3&nbsp;")));
    EXPECT_FALSE(modem.pendingLeft);
}

TEST(DeviceSections, LazyHeadWithAndWithoutFailure) {
    const std::string kQuery = "Select * from Win32_Keyboard";
    EXPECT_EQ(runSection(WriteKeyboardSection, kQuery, {keyboard("", text("x"))}).lines, "");

    // A failed read in the first keyboard reaches the error row after the
    // last, behind the message box; empty and Null layouts give no row.
    auto broken = object({{"Description", text("USB keyboard")}, {"Layout", text("")}});
    auto run = runSection(WriteKeyboardSection, kQuery, {broken, keyboard("PS/2 keyboard", null())});
    EXPECT_EQ(run.lines, section("Keyboard", rowLine("Name", "USB keyboard&nbsp;") + kSpacerLine +
                                                 rowLine("Name", "PS/2 keyboard&nbsp;") +
                                                 rowLine("PNPDeviceID", "HID\\KB&nbsp;") +
                                                 rowLine("Error", "Not found: the object has no property PNPDeviceID&nbsp;")));
    EXPECT_EQ(run.boxes, std::vector<std::string>{"Error: try to get data about Keyboard."});
    EXPECT_FALSE(run.pendingLeft);

    // Nothing listed but the walk failed: head, error row, foot, no box.
    ScriptedService service;
    service.answers[kQuery] = {{keyboard("", null())}, std::nullopt, 1};
    auto failedWalk = runSection(WriteKeyboardSection, service);
    EXPECT_EQ(failedWalk.lines, section("Keyboard", rowLine("Error", "Generic failure (walk)&nbsp;")));
    EXPECT_TRUE(failedWalk.boxes.empty());
}

TEST(DeviceSections, BatterySerialIsCutAtTheMakersName) {
    auto battery = [](wmi::Value id) {
        return object({{"Description", text("Internal Battery")}, {"Name", text("5B10W13930")},
                       {"DeviceID", std::move(id)}});
    };
    auto rows = [](const std::string& serial) {
        return rowLine("Description", "Internal Battery&nbsp;") + rowLine("Name", "5B10W13930&nbsp;") +
               rowLine("Serialnumber", serial + "&nbsp;");
    };
    const std::string kQuery = "Select * from Win32_Battery";
    EXPECT_EQ(runSection(WriteBatterySection, kQuery, {}).lines, "");
    auto run = runSection(WriteBatterySection, kQuery,
                          {battery(text("1234NORVANE 5B10")), battery(text("77norvane")), battery(text("NORVANEx")),
                           battery(text("SMP<1>")), battery(null())});
    EXPECT_EQ(run.lines, section("Battery", rows("1234") + kSpacerLine + rows("77") + kSpacerLine + rows("") +
                                                kSpacerLine + rows("SMP&lt;1&gt;") + kSpacerLine + rows("")));
    EXPECT_FALSE(run.pendingLeft);

    // An unreadable id leaves the row out and is reported.
    auto noId = runSection(WriteBatterySection, kQuery,
                           {object({{"Description", text("Internal Battery")}, {"Name", text("5B10W13930")}})});
    EXPECT_EQ(noId.lines, section("Battery", rowLine("Description", "Internal Battery&nbsp;") +
                                                 rowLine("Name", "5B10W13930&nbsp;") +
                                                 rowLine("Error", "Not found: the object has no property DeviceID&nbsp;")));
}

}  // namespace
}  // namespace veltrix
