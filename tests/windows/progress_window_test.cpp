// Needs a display: the test run under Wine goes through Xvfb.
#include <gtest/gtest.h>

#include "ui/win32/win32_windows.h"

namespace veltrix::win32 {
namespace {

constexpr COLORREF kWhite = 0xFFFFFF;
constexpr COLORREF kDarkBlue = 0xC00000;

class ProgressWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.load();
        ASSERT_TRUE(window.loaded()) << "no window could be created (no display?)";
        window.visiblePicture(kWhite, kDarkBlue, false);
        size = window.pictureSize();
    }
    // Pixels of one colour in the picture's columns [from, to).
    int count(COLORREF colour, int from, int to) const {
        int n = 0;
        for (int x = from; x < to; ++x) {
            for (int y = 0; y < size.cy; ++y) n += window.picturePixel(x, y) == colour;
        }
        return n;
    }
    ProgressWindow window;
    SIZE size{};
};

TEST_F(ProgressWindowTest, TheBarCoversItsShareOfTheWidthInTheDrawingColour) {
    window.update(45);
    int bar = size.cx * 45 / 100;
    EXPECT_EQ(window.picturePixel(1, 1), kDarkBlue);
    EXPECT_EQ(window.picturePixel(bar - 2, 1), kDarkBlue);
    EXPECT_EQ(window.picturePixel(bar + 2, 1), kWhite);
    EXPECT_EQ(window.picturePixel(size.cx - 2, 1), kWhite);
    // The text "45%" sits in the middle, right of the bar's end: drawing-colour
    // text on the white side.
    EXPECT_GT(count(kDarkBlue, bar + 2, size.cx), 0);
}

TEST_F(ProgressWindowTest, AboveOneHundredIsAFullBarAndCoveredTextIsInverted) {
    window.update(150);
    EXPECT_EQ(window.picturePixel(size.cx - 2, 1), kDarkBlue);
    // Under the bar the text shows in the background colour.
    EXPECT_GT(count(kWhite, 0, size.cx), 0);
    window.update(0);
    EXPECT_EQ(window.picturePixel(1, 1), kWhite);
    EXPECT_GT(count(kDarkBlue, 0, size.cx), 0);  // "0%" in the drawing colour
}

TEST_F(ProgressWindowTest, TheUserCannotCloseItButTheProgramCan) {
    SendMessageW(window.handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window.handle()));
    HWND handle = window.handle();
    window.unload();
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_FALSE(window.loaded());
}

}  // namespace
}  // namespace veltrix::win32
