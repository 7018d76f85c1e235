// Values a machine or a snapshot can report that no real device has: numbers
// beyond every range, markup and control characters in texts and failures.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sections/collectors.h"
#include "sections/memory.h"
#include "support/section_run.h"

namespace veltrix {
namespace {

using namespace test;

TEST(HostileValues, NumbersBeyondEveryRangeAreNotNumbers) {
    double n = 0;
    for (const char* t : {"1e999", "-1e999", "1e400"}) EXPECT_FALSE(wmi::Value::text(t).toNumber(n)) << t;
    EXPECT_FALSE(wmi::Value::real64(std::numeric_limits<double>::infinity()).toNumber(n));
    EXPECT_FALSE(wmi::Value::real64(std::nan("")).toNumber(n));
    EXPECT_FALSE(wmi::Value::real32(std::numeric_limits<float>::infinity()).toNumber(n));
    ASSERT_TRUE(wmi::Value::text(" 1e300 ").toNumber(n));
    EXPECT_EQ(n, 1e300);
}

TEST(HostileValues, MemoryCapacityBeyond64BitsIsAFailureAndNoRow) {
    const std::string query = "Select * from Win32_PhysicalMemory";
    for (const wmi::Value& capacity : {text("1e300"), wmi::Value::real32(3.0e38f), text("1e999"),
                                       text("9671406556917033397649408")}) {  // 2^83: 2^63 MB
        std::vector<std::pair<std::string, wmi::Value>> properties = {
            {"MemoryType", int32(24)}, {"Capacity", capacity}, {"Speed", int32(2400)}, {"DeviceLocator", text("DIMM 0")}};
        for (const char* blank : {"BankLabel", "HotSwappable", "InstallDate", "Manufacturer", "Model",
                                  "OtherIdentifyingInfo", "PartNumber", "PoweredOn", "Removable", "Replaceable",
                                  "SerialNumber", "SKU", "Status", "Tag", "Version"}) {
            properties.emplace_back(blank, null());
        }
        auto run = runSection(WriteMemorySection, query, {object(properties)});
        EXPECT_EQ(run.lines, section("Memory", rowLine("Speed", "2400&nbsp;") + rowLine("Slot", "DIMM 0&nbsp;") +
                                                   rowLine("Speed", "2400&nbsp;") + rowLine("Error", "Type mismatch: Capacity is not a number&nbsp;")))
            << *capacity.toText();
    }
}

TEST(HostileValues, SizesBeyondAnUnsigned64BitCountAreNotSizes) {
    auto disk = runSection(WriteHddSection, "Select * from Win32_DiskDrive Where Size >'268435456'",
                           {object({{"Model", text("M")}, {"Size", text("1e999")}, {"Firmwarerevision", text("1")},
                                    {"Partitions", int32(1)}, {"SerialNumber", null()}, {"Status", text("OK")}})});
    EXPECT_EQ(disk.lines.find("inf"), std::string::npos);
    EXPECT_EQ(disk.lines.find(">Size<"), std::string::npos);
    EXPECT_NE(disk.lines.find("Type mismatch: Size is not a number"), std::string::npos);

    auto drive = runSection(WriteRemovableDrivesSection, "Select * from Win32_LogicalDisk Where DriveType ='2'",
                            {object({{"Description", text("Removable Disk")}, {"DeviceID", text("E:")},
                                     {"FreeSpace", text("1")}, {"Size", text("1e30")}})});
    EXPECT_EQ(drive.lines.find(" MB"), std::string::npos) << drive.lines;
    EXPECT_NE(drive.lines.find("Type mismatch: Size is not a number"), std::string::npos);
}

TEST(HostileValues, FailureDescriptionsAreTextNotMarkup) {
    ScriptedService service;
    service.answers["Select * from Win32_Bios"].failure =
        Failure{4112, "<script>alert(1)</script>\r\n<img src=x onerror=alert(2)>"};
    auto run = runSection(WriteBiosSection, service);
    EXPECT_EQ(run.lines.find("<script>"), std::string::npos);
    EXPECT_EQ(run.lines.find("<img"), std::string::npos);
    EXPECT_NE(run.lines.find(rowLine("Error", "&lt;script&gt;alert(1)&lt;/script&gt;  &lt;img src=x "
                                              "onerror=alert(2)&gt;&nbsp;")),
              std::string::npos)
        << run.lines;
}

TEST(HostileValues, ControlCharactersInMachineTextCannotSplitALine) {
    auto run = runSection(WriteBiosSection, "Select * from Win32_Bios",
                          {object({{"Manufacturer", text(std::string("AC\0ME\r\nInc\x1b[1m\tX\x7F", 17))}})});
    EXPECT_NE(run.lines.find("AC ME  Inc [1m\tX "), std::string::npos) << run.lines;
}

}  // namespace
}  // namespace veltrix
