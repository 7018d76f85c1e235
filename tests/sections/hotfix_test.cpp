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

TEST(HotfixSection, ThreeUpdatesLiteral) {
    ScriptedService service;
    service.answers[kQuery] = {{fix(text("KB5034441"), text("Security Update")), fix(null(), text("skipped")),
                                fix(text("KB5011048"), null()), fix(text(""), text("skipped too")),
                                fix(text("KB890830"), text("Update <x64> & more"))}};
    ScanFixture fx(service);
    WriteHotfixSection(fx.scan);
    EXPECT_EQ(fx.lines(),
              "<table border='0' cellpadding='2' cellspacing='0' style='border-collapse:collapse'>\n"
              "<tr><td bgcolor='#000000' class='td1'><font face='Arial' color='#ffffff' ><strong>&nbsp;Hotfix"
              "</strong></td></tr>\n"
              "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>&nbsp;</td><td width='550' bgcolor='#d9d9d9' "
              "class='td1'><table border='0' cellspacing='3' cellpadding='0'><tr valign='top'><td>"
              "<table border='1' cellspacing='0' cellpadding='0'><tr><td width='290' align='center'>Description</td>"
              "<td width='60' align='center'>Hotfix ID</td><td width='5' borders='0'></td>"
              "<td width='290' align='center'>Description</td><td width='60' align='center'>Hotfix ID</td></tr>"
              "<tr><td width='290' valign='top'>&nbsp;Security Update</td><td width='60' valign='top'>&nbsp;KB5034441"
              "</td><td width='5' borders='0'></td>"
              "<td width='290' valign='top'>&nbsp;no Entry</td><td width='60' valign='top'>&nbsp;KB5011048</td></tr>"
              "<tr><td width='290' valign='top'>&nbsp;Update &lt;x64&gt; & more</td><td width='60' valign='top'>"
              "&nbsp;KB890830</td><td width='5' borders='0'></td>"
              "<td>&nbsp;</td><td>&nbsp;</td></tr></table></tr></table></td></tr>\n"
              "</table><br>\n");
    EXPECT_EQ(service.monikers, std::vector<std::string>{std::string(wmi::kWmiMoniker)});
}

TEST(HotfixSection, EvenCountHasNoFillerAndNothingListedWritesNothing) {
    ScriptedService service;
    service.answers[kQuery] = {{fix(text("KB1"), text("a")), fix(text("KB2"), text(""))}};
    ScanFixture fx(service);
    WriteHotfixSection(fx.scan);
    const std::string out = fx.lines();
    EXPECT_NE(out.find("&nbsp;KB2</td></tr></table></tr></table></td></tr>\n"), std::string::npos);
    EXPECT_EQ(out.find("<td>&nbsp;</td>"), std::string::npos);
    EXPECT_NE(out.find("&nbsp;no Entry</td>"), std::string::npos);

    service.answers[kQuery] = {{fix(null(), text("no id"))}};
    ScanFixture empty(service);
    WriteHotfixSection(empty.scan);
    EXPECT_EQ(empty.lines(), "");
}

TEST(HotfixSection, FailuresShowHeadErrorFootAndDropTheList) {
    struct Case {
        ScriptedService::Answer answer;
        std::optional<Failure> connect;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{}, Failure{462, "The remote server machine does not exist"}, "The remote server machine does not exist"},
        {{{fix(text("KB1"), text("a")), fix(text("KB2"), text("b"))}, std::nullopt, 1}, std::nullopt,
         "Generic failure (walk)"},
        // A description that cannot be read (the property is missing).
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

TEST(HotfixSection, UntickedQueriesNothing) {
    ScriptedService service;
    service.answers[kQuery] = {{fix(text("KB1"), text("a"))}};
    ScanFixture fx(service, nullptr, /*hotfix=*/false, /*software=*/true);
    WriteHotfixSection(fx.scan);
    EXPECT_EQ(fx.lines(), "");
    EXPECT_TRUE(service.queries.empty());
}

}  // namespace
}  // namespace veltrix
