#include <gtest/gtest.h>

#include "sections/collectors.h"
#include "sections/memory.h"
#include "support/section_run.h"

namespace veltrix {
namespace {

using namespace test;

const std::string kQuery = "Select * from Win32_PhysicalMemory";

wmi::ObjectPtr module(wmi::Value capacity, wmi::Value speed = int32(0), wmi::Value type = int32(24)) {
    return object({{"MemoryType", std::move(type)}, {"BankLabel", text("   ")}, {"Capacity", std::move(capacity)},
                   {"Speed", std::move(speed)}, {"DeviceLocator", text("")}, {"HotSwappable", wmi::Value::boolean(false)},
                   {"InstallDate", null()}, {"Manufacturer", text("Samsung")}, {"Model", null()},
                   {"OtherIdentifyingInfo", null()}, {"PartNumber", text("M471A1K43DB1-CWE ")}, {"PoweredOn", null()},
                   {"Removable", null()}, {"Replaceable", null()}, {"SerialNumber", text(" ")}, {"SKU", null()},
                   {"Status", null()}, {"Tag", text("Physical Memory 0")}, {"Version", null()}});
}

// Rows of module() after its capacity row, for a speed of 0.
const std::string kTail = rowLine("Speed", "unknown") + rowLine("HotSwappable", "False&nbsp;") +
                          rowLine("Manufacturer", "Samsung&nbsp;") + rowLine("PartNumber", "M471A1K43DB1-CWE &nbsp;") +
                          rowLine("Speed", "0&nbsp;") + rowLine("Tag", "Physical Memory 0&nbsp;");

TEST(MemorySection, CapacityInWholeMegabytesHalvesToEven) {
    const std::pair<wmi::Value, std::string> cases[] = {
        {text("4294967296"), "4096"},           {text("1073741824"), "1024"},
        {text("2621440"), "2"},                 {text("3670016"), "4"},  // 2.5 and 3.5 MiB
        {int32(536870912), "512"},              {text("4503599627370496"), "4294967296"},  // past 2^31 MB
    };
    for (const auto& [capacity, megabytes] : cases) {
        EXPECT_EQ(runSection(WriteMemorySection, kQuery, {module(capacity)}).lines,
                  section("Memory", rowLine("Capacity", megabytes + " MB") + kTail))
            << megabytes;
    }
    for (const auto& capacity : {null(), text("0"), int32(0)}) {
        EXPECT_EQ(runSection(WriteMemorySection, kQuery, {module(capacity)}).lines, section("Memory", kTail));
    }
    EXPECT_EQ(runSection(WriteMemorySection, kQuery, {module(text("8 GB"))}).lines,
              section("Memory", kTail + rowLine("Error", "Type mismatch: Capacity is not a number&nbsp;")));
}

TEST(MemorySection, UnknownSpeedIsShownOnce) {
    // Typed and untyped modules, spacers and a speed of 0 are in the desktop snapshot.
    EXPECT_EQ(runSection(WriteMemorySection, kQuery, {module(null(), null())}).lines,
              section("Memory", rowLine("Speed", "unknown") + rowLine("HotSwappable", "False&nbsp;") +
                                    rowLine("Manufacturer", "Samsung&nbsp;") +
                                    rowLine("PartNumber", "M471A1K43DB1-CWE &nbsp;") +
                                    rowLine("Tag", "Physical Memory 0&nbsp;")));
    EXPECT_EQ(runSection(WriteMemorySection, kQuery, {}).lines, section("Memory", ""));
}

TEST(MemorySection, BlankValues) {
    EXPECT_TRUE(IsBlankValue(null()));
    EXPECT_TRUE(IsBlankValue(text("")));
    EXPECT_TRUE(IsBlankValue(text("   ")));
    EXPECT_FALSE(IsBlankValue(text(" a ")));
    EXPECT_FALSE(IsBlankValue(text("\t")));
    EXPECT_FALSE(IsBlankValue(int32(0)));
    EXPECT_FALSE(IsBlankValue(wmi::Value::boolean(false)));
}

}  // namespace
}  // namespace veltrix
