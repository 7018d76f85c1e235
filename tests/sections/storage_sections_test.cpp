#include <gtest/gtest.h>

#include "sections/collectors.h"
#include "support/section_run.h"

namespace veltrix {
namespace {

using namespace test;

const std::string kDisks = "Select * from Win32_DiskDrive Where Size >'268435456'";
const std::string kRemovable = "Select * from Win32_LogicalDisk Where DriveType ='2'";

wmi::ObjectPtr disk(wmi::Value size) {
    return object({{"Model", text("ST500DM002")}, {"Size", std::move(size)}, {"Firmwarerevision", text("KC48")},
                   {"Partitions", int32(3)}, {"SerialNumber", null()}, {"Status", text("OK")}});
}

TEST(StorageSections, DiskSizeBoundaries) {
    const std::pair<wmi::Value, std::string> cases[] = {
        {text("500105249280"), "466 GB"},  // 465.76 GiB
        {int32(536870912), "512 MB"},      // 512 MiB, delivered as a plain number
        {text("2684354560"), "3 GB"},      // 2.5 GiB: halves away from zero
        {text("1073741824"), "1 GB"},      // exactly 1 GiB
        {text("1073741823"), "1024 MB"},
        {text("9223372036854775807"), "8589934592 GB"},
    };
    for (const auto& [size, shown] : cases) {
        auto run = runSection(WriteHddSection, kDisks, {disk(size)});
        EXPECT_EQ(run.lines, section("HDD", rowLine("Name", "ST500DM002&nbsp;") + rowLine("Size", shown + "&nbsp;") +
                                                rowLine("Firmware", "KC48&nbsp;") +
                                                rowLine("Model", "ST500DM002&nbsp;") + rowLine("Partitions", "3&nbsp;") +
                                                rowLine("SerialNumber", "&nbsp;") + rowLine("Status", "OK&nbsp;")))
            << shown;
    }
    // A size that is not a number leaves its row out and is reported.
    auto run = runSection(WriteHddSection, kDisks, {disk(text("big"))});
    EXPECT_EQ(run.lines.find(">Size<"), std::string::npos);
    EXPECT_NE(run.lines.find("Type mismatch: Size is not a number&nbsp;"), std::string::npos);
}

TEST(StorageSections, DisksWithoutFirmwarePropertyEndWithOneErrorRow) {
    auto bare = [] {
        return object({{"Model", text("M")}, {"Size", text("2147483648")}, {"Partitions", int32(1)},
                       {"SerialNumber", text("S")}, {"Status", text("OK")}});
    };
    const std::string rows = rowLine("Name", "M&nbsp;") + rowLine("Size", "2 GB&nbsp;") + rowLine("Model", "M&nbsp;") +
                             rowLine("Partitions", "1&nbsp;") + rowLine("SerialNumber", "S&nbsp;") +
                             rowLine("Status", "OK&nbsp;");
    EXPECT_EQ(runSection(WriteHddSection, kDisks, {bare(), bare()}).lines,
              section("HDD", rows + kSpacerLine + rows +
                                 rowLine("Error", "Not found: the object has no property Firmwarerevision&nbsp;")));
}

TEST(StorageSections, RemovableDrivesMediaAndSkippedDrives) {
    auto drive = [](wmi::Value description, wmi::Value freeSpace, wmi::Value size) {
        return object({{"Description", std::move(description)}, {"DeviceID", text("A:")},
                       {"FreeSpace", std::move(freeSpace)}, {"Size", std::move(size)}});
    };
    auto run = runSection(WriteRemovableDrivesSection, kRemovable,
                          {drive(null(), text("1"), text("1")), drive(text("3 1/2 Inch Floppy Drive"), text("0"), text("1457664")),
                           drive(text(""), null(), null()), drive(text("Removable Disk"), null(), null()),
                           drive(text("Removable Disk"), text("1024"), text("262144"))});
    EXPECT_EQ(run.lines, section("Removeable Drives",
                                 rowLine("Name", "3 1/2 Inch Floppy Drive&nbsp;") + rowLine("DeviceID", "A:&nbsp;") +
                                     rowLine("Size", "1 MB&nbsp;") + kSpacerLine +
                                     rowLine("Name", "Removable Disk&nbsp;") + rowLine("DeviceID", "A:&nbsp;") +
                                     kSpacerLine + rowLine("Name", "Removable Disk&nbsp;") +
                                     rowLine("DeviceID", "A:&nbsp;") + rowLine("Size", " MB&nbsp;")));
    EXPECT_EQ(runSection(WriteRemovableDrivesSection, kRemovable, {drive(text(""), null(), null())}).lines, "");

    // A failure after a listed drive: message box, then the error row.
    auto failing = runSection(WriteRemovableDrivesSection, kRemovable,
                              {object({{"Description", text("Removable Disk")}, {"DeviceID", text("F:")}})});
    EXPECT_EQ(failing.lines, section("Removeable Drives", rowLine("Name", "Removable Disk&nbsp;") +
                                                              rowLine("DeviceID", "F:&nbsp;") +
                                                              rowLine("Error", "Not found: the object has no property Size&nbsp;")));
    EXPECT_EQ(failing.boxes, std::vector<std::string>{"Error: try to get data about floppy drive."});
}

}  // namespace
}  // namespace veltrix
