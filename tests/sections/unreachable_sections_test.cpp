#include <gtest/gtest.h>

#include "sections/collectors.h"
#include "support/section_run.h"

namespace veltrix {
namespace {

using namespace test;

TEST(UnreachableService, EverySectionShowsTheCauseAndLeavesNoErrorBehind) {
    const std::string error = rowLine("Error", "The remote server machine does not exist&nbsp;");
    const std::string board = "Error: try to get motherboarddata in Modul 'MB'";
    struct Case {
        Collector collector;
        std::string lines;
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {WriteCdromSection, section("CDROM", error), {}},
        {WriteCpuSection, section("CPU", error), {}},
        {WriteKeyboardSection, section("Keyboard", error), {}},
        {WriteModemSection, section("Modem", error), {}},
        {WriteMouseSection, section("Mouse", error), {}},
        {WriteOsSection, section("Operatingsystem", error), {}},
        {WriteBatterySection, section("Battery", error), {}},
        {WriteHddSection, section("HDD", error), {}},
        {WriteRemovableDrivesSection, section("FDD", error), {}},
        {WriteMemorySection, section("Memory", error), {}},
        {WriteSystemInfoSection, section("Systeminformation", error + error),
         {"Error: try to get data in Modul 'Serial_Systemencl.'"}},
        {WriteMotherboardSection, section("Motherboard", error + error + error),
         {board, "Error: try to get Motherboardserial in Modul 'MB'", board}},
    };
    for (const Case& c : cases) {
        ScriptedService service;
        service.connectFailure = Failure{462, "The remote server machine does not exist"};
        auto run = runSection(c.collector, service);
        EXPECT_EQ(run.lines, c.lines);
        EXPECT_EQ(run.boxes, c.boxes) << c.lines;
        EXPECT_FALSE(run.pendingLeft);
    }
}

}  // namespace
}  // namespace veltrix
