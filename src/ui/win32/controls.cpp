// Helpers shared by the Win32 windows: placing controls from the layouts,
// fonts, texts and the message pump.
#include <windows.h>
#include <commctrl.h>

#include "platform/windows/utf16.h"
#include "ui/win32/win32_windows.h"

namespace veltrix::win32 {

RECT pixelRect(const ControlLayout& layout, int offsetX, int offsetY) {
    RECT r;
    r.left = TwipsToPixels(layout.left + offsetX);
    r.top = TwipsToPixels(layout.top + offsetY);
    r.right = r.left + TwipsToPixels(layout.width);
    r.bottom = r.top + TwipsToPixels(layout.height);
    return r;
}

HWND createControl(HWND parent, const wchar_t* kind, const ControlLayout& layout, DWORD style, int id,
                   HFONT font, int offsetX, int offsetY) {
    RECT r = pixelRect(layout, offsetX, offsetY);
    HWND control = CreateWindowExW(0, kind, win::toWide(layout.caption).c_str(), WS_CHILD | WS_VISIBLE | style,
                                   r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                   nullptr);
    if (control && font) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return control;
}

HWND createCentredWindow(const wchar_t* className, std::string_view caption, int clientWidthTwips,
                         int clientHeightTwips, DWORD style, HWND owner, void* self) {
    RECT r{0, 0, TwipsToPixels(clientWidthTwips), TwipsToPixels(clientHeightTwips)};
    AdjustWindowRectEx(&r, style, FALSE, WS_EX_DLGMODALFRAME);
    int width = r.right - r.left, height = r.bottom - r.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    return CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, className, win::toWide(caption).c_str(),
                           style, x, y, width, height, owner, nullptr, GetModuleHandleW(nullptr), self);
}

HFONT makeFont(const wchar_t* face, double points, bool bold) {
    HDC screen = GetDC(nullptr);
    int height = -MulDiv(static_cast<int>(points * 100), GetDeviceCaps(screen, LOGPIXELSY), 7200);
    ReleaseDC(nullptr, screen);
    return CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face);
}

std::string windowText(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    int n = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    return win::toUtf8(text);
}

bool translateDialogMessage(MSG& message) {
    // Tab, Enter and Esc move between and press the controls of the window
    // that holds the focus, as in a dialog.
    HWND top = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (!top || !(GetWindowLongW(top, GWL_EXSTYLE) & WS_EX_CONTROLPARENT)) return false;
    return IsDialogMessageW(top, &message);
}

void pumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (translateDialogMessage(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace veltrix::win32
