// Needs a display: the test run under Wine goes through Xvfb.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ui/win32/win32_windows.h"

namespace veltrix::win32 {
namespace {

LONG heightOf(HFONT font) {
    LOGFONTW logical{};
    GetObjectW(font, sizeof logical, &logical);
    return std::abs(logical.lfHeight);
}

// Captions keep their controls' places and lose font size instead of
// letters, whatever font the system supplies.
TEST(Win32Captions, ShrinkUntilTheyFitAndShortOnesKeepTheirFont) {
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 600, 200, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(parent) << "no window could be created (no display?)";
    HFONT font = makeFont(L"MS Shell Dlg 2", 8.25, false);

    ControlLayout narrow{"swcheck", "Software Inventory", 0, 0, 1500, 255, 0};
    HWND box = createControl(parent, L"BUTTON", narrow, BS_AUTOCHECKBOX, 1, font);
    HFONT fitted = sendFont(box);
    EXPECT_LT(heightOf(fitted), heightOf(font));
    RECT client{};
    GetClientRect(box, &client);
    EXPECT_LT(captionWidth(box, fitted), client.right - GetSystemMetrics(SM_CXMENUCHECK));

    ControlLayout wide{"btnEnde", "E&xit", 0, 300, 1815, 495, 0};
    HWND button = createControl(parent, L"BUTTON", wide, BS_PUSHBUTTON, 2, font);
    EXPECT_EQ(sendFont(button), font);
    // The access-key marker takes no room: "E&xit" measures as "Exit".
    SetWindowTextW(button, L"Exit");
    const int plain = captionWidth(button, font);
    SetWindowTextW(button, L"E&xit");
    EXPECT_EQ(captionWidth(button, font), plain);

    EXPECT_EQ(smallerFont(font, fitted), fitted);
    EXPECT_EQ(smallerFont(fitted, font), fitted);
    DestroyWindow(parent);
    DeleteObject(font);
}

RECT placedIn(HWND parent, HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Laid out at 125, 150 and 200% and back: places, sizes and fonts follow the
// DPI together, so a caption that fits at 96 DPI fits at each, in a font as
// much larger as the screen's scaling.
TEST(Win32Scaling, ControlsAndTheirFontsFollowTheDpiBackAndForth) {
    HWND window = createCentredWindow(L"STATIC", "", 4000, 1500, WS_POPUP, nullptr, nullptr);
    ASSERT_TRUE(window) << "no window could be created (no display?)";
    ScaledWindow layout;
    layout.attach(window, 4000, 1500);
    const FontSpec font{L"MS Shell Dlg 2", 8.25, false};
    const ControlLayout exit{"btnEnde", "E&xit", 150, 150, 1815, 495, 0};
    const ControlLayout box{"swcheck", "Software Inventory", 150, 800, 1500, 255, 1};
    HWND button = layout.addControl(L"BUTTON", exit, BS_PUSHBUTTON, 1, font);
    HWND check = layout.addControl(L"BUTTON", box, BS_AUTOCHECKBOX, 2, font);
    const UINT start = layout.dpi();
    const double fittedAtStart = static_cast<double>(heightOf(sendFont(check))) / start;
    for (UINT dpi : {120u, 144u, 192u, start}) {
        SCOPED_TRACE(dpi);
        layout.rescale(dpi, nullptr);
        const int d = static_cast<int>(dpi);
        RECT r = placedIn(window, button);
        EXPECT_EQ(r.left, TwipsToPixelsAt(exit.left, d));
        EXPECT_EQ(r.top, TwipsToPixelsAt(exit.top, d));
        EXPECT_EQ(r.right - r.left, TwipsToPixelsAt(exit.width, d));
        EXPECT_EQ(r.bottom - r.top, TwipsToPixelsAt(exit.height, d));
        EXPECT_EQ(heightOf(sendFont(button)), MulDiv(825, d, 7200));
        // The long caption still fits its box, and keeps its share of the size.
        RECT client{};
        GetClientRect(check, &client);
        EXPECT_LT(captionWidth(check, sendFont(check)), client.right - systemMetric(SM_CXMENUCHECK, dpi));
        EXPECT_NEAR(static_cast<double>(heightOf(sendFont(check))) / dpi, fittedAtStart, 2.5 / 96);
    }
    DestroyWindow(window);
}

}  // namespace
}  // namespace veltrix::win32
