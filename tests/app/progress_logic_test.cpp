#include "app/progress_logic.h"

#include <gtest/gtest.h>

#include "app/window_layouts.h"

namespace veltrix {
namespace {

TEST(ProgressLogic, ClampsOnlyAboveTheWidth) {
    EXPECT_EQ(ClampProgress(150), 100);
    EXPECT_EQ(ClampProgress(100), 100);
    EXPECT_EQ(ClampProgress(45), 45);
    EXPECT_EQ(ClampProgress(0), 0);
    EXPECT_EQ(ClampProgress(-5), -5);
}

TEST(ProgressLogic, TextIsThePercentage) {
    EXPECT_EQ(ProgressText(0), "0%");
    EXPECT_EQ(ProgressText(45), "45%");
    EXPECT_EQ(ProgressText(ClampProgress(150)), "100%");
    for (int p = 0; p <= 100; ++p) EXPECT_EQ(ProgressText(p), std::to_string(p) + "%");
}

TEST(ProgressLogic, HalvesRoundToEven) {
    EXPECT_EQ(RoundHalfEven(0.5), 0);
    EXPECT_EQ(RoundHalfEven(1.5), 2);
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
    EXPECT_EQ(RoundHalfEven(2.6), 3);
}

TEST(ProgressLogic, TextIsCentredWithTheRoundingRules) {
    // 521 px wide surface: a 30 px text is 5.758 units, (100 - 5.758) rounds
    // to 94, halved 47 units = 244.87 -> 245 px.
    auto layout = LayoutProgress(45, 521, 25, 30, 13);
    EXPECT_EQ(layout.textX, 245);
    // Height: (25 - 13) px = 180 twips, halved 90 twips = 6 px.
    EXPECT_EQ(layout.textY, 6);
    // An odd difference drops the fraction: 100 px surface, 9 px text ->
    // 91 units halved to 45.
    EXPECT_EQ(LayoutProgress(0, 100, 20, 9, 13).textX, 45);
    // A text wider than the surface starts left of it, truncated toward zero.
    EXPECT_EQ(LayoutProgress(0, 100, 20, 103, 13).textX, -1);
}

TEST(ProgressLogic, BarCoversTheShareOfTheSurface) {
    EXPECT_EQ(LayoutProgress(0, 521, 25, 20, 13).barWidth, 0);
    EXPECT_EQ(LayoutProgress(45, 521, 25, 20, 13).barWidth, 234);  // 234.45
    EXPECT_EQ(LayoutProgress(100, 521, 25, 20, 13).barWidth, 521);
    EXPECT_EQ(LayoutProgress(ClampProgress(150), 521, 25, 20, 13).barWidth, 521);
    EXPECT_EQ(LayoutProgress(-5, 521, 25, 20, 13).barWidth, 0);
    EXPECT_EQ(LayoutProgress(50, 0, 0, 20, 13).barWidth, 0);  // not laid out yet
}

TEST(WindowLayouts, TwipsBecomePixelsAtFifteenPerPixel) {
    EXPECT_EQ(TwipsToPixels(1815), 121);
    EXPECT_EQ(TwipsToPixels(7815), 521);
    EXPECT_EQ(TwipsToPixels(7), 0);
    EXPECT_EQ(TwipsToPixels(8), 1);
    EXPECT_EQ(TwipsToPixels(-8), -1);
}

TEST(WindowLayouts, TwipsFollowTheScreensDpiAndMatchTheOldRoundingAt96) {
    for (int twips = -3000; twips <= 9000; ++twips) ASSERT_EQ(TwipsToPixelsAt(twips, 96), TwipsToPixels(twips)) << twips;
    // The main window at the common scalings: 100, 125, 150 and 200%.
    EXPECT_EQ(TwipsToPixelsAt(kMainClientWidth, 96), 540);
    EXPECT_EQ(TwipsToPixelsAt(kMainClientWidth, 120), 675);
    EXPECT_EQ(TwipsToPixelsAt(kMainClientWidth, 144), 810);
    EXPECT_EQ(TwipsToPixelsAt(kMainClientWidth, 192), 1080);
    // Halves round away from zero, on both sides.
    EXPECT_EQ(TwipsToPixelsAt(5, 144), 1);    // 0.5
    EXPECT_EQ(TwipsToPixelsAt(-5, 144), -1);
    EXPECT_EQ(TwipsToPixelsAt(4, 144), 0);    // 0.4
}

TEST(WindowLayouts, MainWindowTabOrderAndCaptions) {
    for (std::size_t i = 0; i < kMainControls.size(); ++i) EXPECT_EQ(kMainControls[i].tabIndex, static_cast<int>(i));
    EXPECT_EQ(kMainControls[0].caption, "E&xit");
    EXPECT_EQ(kMainControls[1].caption, "create &report");
    EXPECT_EQ(kMainControls[4].caption, "Add Comment");
    // Every control fits the client area and none overlaps the logo.
    for (const auto& c : kMainControls) {
        EXPECT_LE(c.left + c.width, kMainClientWidth) << c.name;
        EXPECT_LE(c.top + c.height, kMainClientHeight) << c.name;
        EXPECT_GE(c.left, kMainLogo.left + kMainLogo.width) << c.name;
    }
}

}  // namespace
}  // namespace veltrix
