#include "sections/frame.h"

#include <gtest/gtest.h>

#include "support/fakes.h"

namespace veltrix {
namespace {

using namespace test;

class FrameTest : public ::testing::Test {
protected:
    ScriptedService service;
    ScanFixture fx{service};
};

TEST_F(FrameTest, AFailureSurvivesLaterRowsAndTheLastOneWins) {
    service.answers["Q"] = {{object({{"A", text("1")}}), object({{"A", text("2")}, {"B", text("b")}})}};
    {
        Frame frame(fx.scan);
        frame.connect();
        frame.query("Q");
        frame.head("T");
        frame.forEach([&](const wmi::Object& o) {
            frame.valueRow("B", o, "B");  // missing on the first object
            frame.valueRow("A", o, "A");
        });
        EXPECT_TRUE(frame.failed());
        frame.errorRow();
        frame.foot();
    }
    EXPECT_EQ(fx.lines(), headLines("T") + rowLine("A", "1&nbsp;") + rowLine("B", "b&nbsp;") +
                              rowLine("A", "2&nbsp;") +
                              rowLine("Error", "Not found: the object has no property B&nbsp;") + kFootLine);
    EXPECT_FALSE(fx.pending.any()) << "the collector's return empties the pending error";
}

TEST_F(FrameTest, FailedConnectionVisitsNothingAndTheWalkFailsAgain) {
    service.connectFailure = Failure{462, "The remote server machine does not exist"};
    Frame frame(fx.scan);
    EXPECT_FALSE(frame.connect());
    EXPECT_FALSE(frame.query("Q"));
    int visited = 0;
    frame.forEach([&](const wmi::Object&) { ++visited; });
    EXPECT_EQ(visited, 0);
    EXPECT_EQ(frame.error().number, 462) << "the cause is carried to the last step";
}

TEST_F(FrameTest, GuardsPassWhenTheirOwnReadFails) {
    auto o = object({{"Null", null()}, {"Empty", text("")}, {"Text", text("x")}, {"Four", int32(4)},
                     {"Zero", int32(0)}, {"Real", wmi::Value::real32(3.0f)}, {"Digits", text("12")}});
    Frame frame(fx.scan);
    EXPECT_TRUE(frame.textGuard(*o, "Text"));
    EXPECT_FALSE(frame.textGuard(*o, "Empty"));
    EXPECT_FALSE(frame.textGuard(*o, "Null"));
    EXPECT_FALSE(frame.textGuard(*o, "Four"));
    EXPECT_TRUE(frame.lengthGuard(*o, "Four"));
    EXPECT_FALSE(frame.lengthGuard(*o, "Null"));
    EXPECT_FALSE(frame.lengthGuard(*o, "Empty"));
    EXPECT_TRUE(frame.integerGuard(*o, "Four"));
    EXPECT_FALSE(frame.integerGuard(*o, "Zero"));
    EXPECT_FALSE(frame.integerGuard(*o, "Real"));
    EXPECT_FALSE(frame.integerGuard(*o, "Digits"));
    EXPECT_TRUE(frame.conversionGuard(*o, "Null"));
    EXPECT_FALSE(frame.conversionGuard(*o, "Empty"));
    EXPECT_FALSE(frame.failed()) << "guards that decide on a value record nothing";
    EXPECT_TRUE(frame.textGuard(*o, "Absent"));
    EXPECT_TRUE(frame.lengthGuard(*o, "Absent"));
    EXPECT_TRUE(frame.integerGuard(*o, "Absent"));
    EXPECT_TRUE(frame.conversionGuard(*o, "Absent"));
    EXPECT_TRUE(frame.failed());
}

TEST_F(FrameTest, RestartEmptiesTheErrorAndWritersNeverDo) {
    Frame frame(fx.scan);
    frame.fail({7, "first"});
    frame.row("l", "v");
    EXPECT_TRUE(frame.failed());
    fx.report.failWrites(true);
    frame.row("l", "v");
    EXPECT_EQ(frame.error().description, "first") << "a write failure goes to its own message box";
    EXPECT_EQ(fx.ui.messages.size(), 1u);
    frame.restart();
    EXPECT_FALSE(frame.failed());
}

TEST_F(FrameTest, LookupKeepsItsFailuresToItself) {
    Frame outer(fx.scan);
    outer.fail({9, "outer"});
    {
        Frame lookup(fx.scan, Frame::Mode::Lookup);
        EXPECT_FALSE(lookup.failed());
        lookup.fail({3, "inner"});
    }
    EXPECT_EQ(outer.error().description, "outer");
}

TEST_F(FrameTest, LazySectionEndings) {
    {
        Frame frame(fx.scan);
        frame.finishLazy("Nothing");
    }
    EXPECT_EQ(fx.lines(), "");
    {
        Frame frame(fx.scan);
        frame.fail({1, "gone"});
        frame.finishLazy("FDD", "box");
    }
    EXPECT_EQ(fx.lines(), headLines("FDD") + rowLine("Error", "gone&nbsp;") + kFootLine);
    EXPECT_TRUE(fx.ui.messages.empty()) << "no box when no item was listed";
    {
        Frame frame(fx.scan);
        frame.headOnce("Drives");
        frame.headOnce("Drives");
        frame.fail({1, "late"});
        frame.finishLazy("FDD", "box");
    }
    EXPECT_EQ(fx.ui.messages, std::vector<std::string>{"box"});
}

TEST_F(FrameTest, WalkThatFailsMidwayEndsAndIsRecorded) {
    service.answers["Q"] = {{object({{"A", text("1")}}), object({{"A", text("2")}})}, std::nullopt, 1};
    Frame frame(fx.scan);
    frame.connect();
    frame.query("Q");
    int visited = 0;
    frame.forEach([&](const wmi::Object&) { ++visited; });
    EXPECT_EQ(visited, 1);
    EXPECT_TRUE(frame.failed());
}

TEST_F(FrameTest, StandardValuesAreMadeSafe) {
    auto o = object({{"Name", text("<img src=x onerror=alert(1)> & Co")}, {"N", null()}, {"I", int32(4)}});
    Frame frame(fx.scan);
    frame.valueRow("Name", *o, "Name");
    frame.valueRow("N", *o, "N");
    frame.valueRow("I", *o, "I");
    EXPECT_EQ(fx.lines(), rowLine("Name", "&lt;img src=x onerror=alert(1)&gt; & Co&nbsp;") +
                              rowLine("N", "&nbsp;") + rowLine("I", "4&nbsp;"));
}

}  // namespace
}  // namespace veltrix
