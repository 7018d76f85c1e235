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

}  // namespace
}  // namespace veltrix::win32
