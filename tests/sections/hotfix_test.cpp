// The full "Hotfix" list is compared literally in inventory_batch_test.cpp;
// these cover what a snapshot cannot easily show.
#include <gtest/gtest.h>

#include "sections/collectors.h"
#include "support/fakes.h"

namespace veltrix {
namespace {

using namespace test;

const std::string kQuery = "Select * from Win32_QuickFixEngineering Where HotFixID <> 'File 1'";

wmi::ObjectPtr fix(wmi::Value id, wmi::Value description) {
    return object({{"HotFixID", std::move(id)}, {"Description", std::move(description)}});
}

TEST(HotfixSection, FailuresShowHeadErrorFootAndDropTheList) {
    struct Case {
        ScriptedService::Answer answer;
        std::optional<Failure> connect;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{}, Failure{462, "The remote server machine does not exist"}, "The remote server machine does not exist"},
        // Entries were listed before the walk failed: the list is not written.
        {{{fix(text("KB1"), text("a")), fix(text("KB2"), text("b"))}, std::nullopt, 1}, std::nullopt,
         "Generic failure (walk)"},
        {{{object({{"HotFixID", text("KB3")}})}}, std::nullopt, "Not found: the object has no property Description"},
    };
    for (const auto& c : cases) {
        ScriptedService service;
        service.answers[kQuery] = c.answer;
        service.connectFailure = c.connect;
        ScanFixture fx(service);
        WriteHotfixSection(fx.scan);
        EXPECT_EQ(fx.lines(), headLines("Hotfix") + rowLine("Error", c.error + "&nbsp;") + kFootLine);
        EXPECT_FALSE(fx.pending.any());
    }
}

TEST(HotfixSection, NothingListedOrUntickedWritesNothing) {
    ScriptedService service;
    service.answers[kQuery] = {{fix(null(), text("no id")), fix(text(""), text("empty id"))}};
    ScanFixture listedNothing(service);
    WriteHotfixSection(listedNothing.scan);
    EXPECT_EQ(listedNothing.lines(), "");

    service.queries.clear();
    ScanFixture unticked(service, nullptr, /*hotfix=*/false, /*software=*/true);
    WriteHotfixSection(unticked.scan);
    EXPECT_EQ(unticked.lines(), "");
    EXPECT_TRUE(service.queries.empty());
}

}  // namespace
}  // namespace veltrix
