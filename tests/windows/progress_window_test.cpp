// Needs a display: the test run under Wine goes through Xvfb.
#include <gtest/gtest.h>

#include <cstdlib>

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

LONG fontHeight(HWND control) {
    LOGFONTW logical{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof logical, &logical);
    return std::abs(logical.lfHeight);
}

// Moved to a screen of another scaling, the window, its texts and its bar
// take the size the layout has there, and the bar stands where it stood.
TEST_F(ProgressWindowTest, AnotherScreensDpiLaysOutTheWindowItsFontsAndItsBarAgain) {
    HWND hint = FindWindowExW(window.handle(), nullptr, L"STATIC", nullptr);
    ASSERT_TRUE(hint);
    const UINT start = window.dpi();
    EXPECT_EQ(size.cx, TwipsToPixelsAt(kProgressPicture.width, static_cast<int>(start)));
    window.update(45);
    for (UINT dpi : {192u, 120u, start}) {
        SCOPED_TRACE(dpi);
        RECT suggested{100, 80, 110, 90};  // only its corner is taken
        SendMessageW(window.handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        EXPECT_EQ(window.dpi(), dpi);
        const int d = static_cast<int>(dpi);
        RECT frame{}, client{};
        GetWindowRect(window.handle(), &frame);
        GetClientRect(window.handle(), &client);
        EXPECT_EQ(frame.left, 100);
        EXPECT_EQ(frame.top, 80);
        // The window is sized for the frame it has at that DPI; on a screen
        // that is not really at it, the frame drawn is another, smaller by
        // up to a caption's height.
        EXPECT_NEAR(client.right, TwipsToPixelsAt(kProgressClientWidth, d), 12);
        EXPECT_NEAR(client.bottom, TwipsToPixelsAt(kProgressClientHeight, d), systemMetric(SM_CYCAPTION, dpi));
        RECT placed{};
        GetWindowRect(hint, &placed);
        MapWindowPoints(nullptr, window.handle(), reinterpret_cast<POINT*>(&placed), 2);
        EXPECT_EQ(placed.left, TwipsToPixelsAt(kProgressHint.left, d));
        EXPECT_EQ(placed.right - placed.left, TwipsToPixelsAt(kProgressHint.width, d));
        EXPECT_EQ(fontHeight(hint), MulDiv(825, d, 7200));
        const SIZE now = window.pictureSize();
        EXPECT_EQ(now.cx, TwipsToPixelsAt(kProgressPicture.width, d));
        EXPECT_EQ(now.cy, TwipsToPixelsAt(kProgressPicture.height, d));
        const int bar = now.cx * 45 / 100;
        EXPECT_EQ(window.picturePixel(bar - 2, 1), kDarkBlue);
        EXPECT_EQ(window.picturePixel(bar + 2, 1), kWhite);
    }
}

}  // namespace
}  // namespace veltrix::win32
