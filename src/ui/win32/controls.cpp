// Helpers shared by the Win32 windows: placing controls from the layouts,
// fonts, texts and the message pump.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>

#include "platform/windows/utf16.h"
#include "ui/win32/win32_windows.h"

namespace veltrix::win32 {

namespace {

// Calls of newer systems (Windows 10 1607 and later), looked up at run time
// so that the program still starts where they are missing.
template <class Function>
Function user32Call(const char* name) {
    static HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

using DpiForWindow = UINT(WINAPI*)(HWND);
using MetricsForDpi = int(WINAPI*)(int, UINT);
using AdjustForDpi = BOOL(WINAPI*)(RECT*, DWORD, BOOL, DWORD, UINT);

}  // namespace

UINT screenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

UINT windowDpi(HWND window) {
    static const auto forWindow = user32Call<DpiForWindow>("GetDpiForWindow");
    if (window && forWindow) {
        if (UINT dpi = forWindow(window)) return dpi;
    }
    return screenDpi();
}

int systemMetric(int index, UINT dpi) {
    static const auto forDpi = user32Call<MetricsForDpi>("GetSystemMetricsForDpi");
    if (forDpi) return forDpi(index, dpi);
    return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(screenDpi()));
}

RECT pixelRect(const ControlLayout& layout, UINT dpi, int offsetX, int offsetY) {
    const int d = static_cast<int>(dpi);
    RECT r;
    r.left = TwipsToPixelsAt(layout.left + offsetX, d);
    r.top = TwipsToPixelsAt(layout.top + offsetY, d);
    r.right = r.left + TwipsToPixelsAt(layout.width, d);
    r.bottom = r.top + TwipsToPixelsAt(layout.height, d);
    return r;
}

HWND createControl(HWND parent, const wchar_t* kind, const ControlLayout& layout, DWORD style, int id,
                   HFONT font, int offsetX, int offsetY) {
    RECT r = pixelRect(layout, windowDpi(parent), offsetX, offsetY);
    HWND control = CreateWindowExW(0, kind, win::toWide(layout.caption).c_str(), WS_CHILD | WS_VISIBLE | style,
                                   r.left, r.top, r.right - r.left, r.bottom - r.top, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                   nullptr);
    if (control && font) {
        if (!layout.caption.empty()) font = fittedFont(control, font);
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    return control;
}

namespace {

// Fonts made smaller to fit a caption, kept for the life of the program:
// a handful at most, shared by every window that needs the same size.
std::map<std::tuple<std::wstring, LONG, LONG, BYTE>, HFONT>& fittedFonts() {
    static std::map<std::tuple<std::wstring, LONG, LONG, BYTE>, HFONT> fonts;
    return fonts;
}

HFONT fontOfHeight(const LOGFONTW& base, LONG height) {
    auto key = std::make_tuple(std::wstring(base.lfFaceName), height, base.lfWeight, base.lfItalic);
    HFONT& font = fittedFonts()[key];
    if (!font) {
        LOGFONTW smaller = base;
        smaller.lfHeight = height;
        smaller.lfWidth = 0;
        font = CreateFontIndirectW(&smaller);
    }
    return font;
}

// The room a control leaves its caption: a push button's frame and margin,
// a check box's box and gap.
int captionRoom(HWND control, UINT dpi) {
    RECT client{};
    GetClientRect(control, &client);
    int width = client.right - client.left;
    wchar_t kind[16] = {};
    GetClassNameW(control, kind, 16);
    if (lstrcmpiW(kind, L"Button") != 0) return width;
    LONG type = GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK;
    if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON)
        return width - systemMetric(SM_CXMENUCHECK, dpi) - 2 * systemMetric(SM_CXEDGE, dpi);
    return width - 2 * (systemMetric(SM_CXEDGE, dpi) + MulDiv(2, static_cast<int>(dpi), 96));
}

}  // namespace

int captionWidth(HWND control, HFONT font) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(std::max(0, GetWindowTextW(control, text.data(), static_cast<int>(text.size())))));
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, font);
    RECT r{0, 0, 0, 0};
    // DT_CALCRECT measures as the control draws: "&" marks the access key.
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return r.right - r.left;
}

HFONT fittedFont(HWND control, HFONT font) { return fittedFont(control, font, windowDpi(control)); }

HFONT fittedFont(HWND control, HFONT font, UINT dpi) {
    LOGFONTW base{};
    if (!GetObjectW(font, sizeof base, &base)) return font;
    const int room = captionRoom(control, dpi);
    // Negative heights are character heights; the font shrinks a pixel at a
    // time, down to the smallest size that still reads (6 points).
    const LONG sign = base.lfHeight < 0 ? -1 : 1;
    const LONG start = std::abs(base.lfHeight);
    const LONG smallest = std::min<LONG>(start, MulDiv(6, static_cast<int>(dpi), 72));
    HFONT candidate = font;
    for (LONG height = start; height >= smallest; --height) {
        candidate = height == start ? font : fontOfHeight(base, sign * height);
        if (!candidate) return font;
        if (captionWidth(control, candidate) <= room) break;
    }
    return candidate;
}

HFONT sendFont(HWND control) { return reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)); }

HFONT smallerFont(HFONT a, HFONT b) {
    LOGFONTW la{}, lb{};
    if (!GetObjectW(a, sizeof la, &la) || !GetObjectW(b, sizeof lb, &lb)) return a;
    return std::abs(lb.lfHeight) < std::abs(la.lfHeight) ? b : a;
}

void sizeWindow(HWND window, int clientWidthTwips, int clientHeightTwips, UINT dpi, const RECT* suggested) {
    const int d = static_cast<int>(dpi);
    RECT r{0, 0, TwipsToPixelsAt(clientWidthTwips, d), TwipsToPixelsAt(clientHeightTwips, d)};
    const DWORD style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
    static const auto adjustForDpi = user32Call<AdjustForDpi>("AdjustWindowRectExForDpi");
    if (adjustForDpi) {
        adjustForDpi(&r, style, FALSE, exStyle, dpi);
    } else {
        AdjustWindowRectEx(&r, style, FALSE, exStyle);
    }
    const int width = r.right - r.left, height = r.bottom - r.top;
    int x = 0, y = 0;
    if (suggested) {
        x = suggested->left;
        y = suggested->top;
    } else {
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        RECT screen{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
        if (GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor)) screen = monitor.rcMonitor;
        x = screen.left + (screen.right - screen.left - width) / 2;
        y = screen.top + (screen.bottom - screen.top - height) / 2;
    }
    SetWindowPos(window, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND createCentredWindow(const wchar_t* className, std::string_view caption, int clientWidthTwips,
                         int clientHeightTwips, DWORD style, HWND owner, void* self) {
    // Made first at the screen's size, then sized at the DPI of the screen
    // it went to: only the window knows that.
    const int d = static_cast<int>(screenDpi());
    HWND window = CreateWindowExW(WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, className, win::toWide(caption).c_str(),
                                  style, 0, 0, TwipsToPixelsAt(clientWidthTwips, d),
                                  TwipsToPixelsAt(clientHeightTwips, d), owner, nullptr, GetModuleHandleW(nullptr),
                                  self);
    if (window) sizeWindow(window, clientWidthTwips, clientHeightTwips, windowDpi(window), nullptr);
    return window;
}

HFONT makeFont(const wchar_t* face, double points, bool bold, UINT dpi) {
    const int d = static_cast<int>(dpi ? dpi : screenDpi());
    int height = -MulDiv(static_cast<int>(points * 100), d, 7200);
    return CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face);
}

HFONT sharedFont(const FontSpec& wanted, UINT dpi) {
    static std::map<std::tuple<std::wstring, int, bool, UINT>, HFONT> fonts;
    HFONT& font = fonts[std::make_tuple(std::wstring(wanted.face), static_cast<int>(wanted.points * 100), wanted.bold, dpi)];
    if (!font) font = makeFont(wanted.face, wanted.points, wanted.bold, dpi);
    return font;
}

void ScaledWindow::attach(HWND window, int clientWidthTwips, int clientHeightTwips) {
    window_ = window;
    width_ = clientWidthTwips;
    height_ = clientHeightTwips;
    dpi_ = windowDpi(window);
    controls_.clear();
}

void ScaledWindow::detach() {
    window_ = nullptr;
    controls_.clear();
}

HWND ScaledWindow::addControl(const wchar_t* kind, const ControlLayout& layout, DWORD style, int id,
                              const FontSpec& font, int offsetX, int offsetY) {
    HWND control = createControl(window_, kind, layout, style, id, sharedFont(font, dpi_), offsetX, offsetY);
    if (control) controls_.push_back(Placed{control, layout, font, offsetX, offsetY});
    return control;
}

void ScaledWindow::rescale(UINT dpi, const RECT* suggested) {
    if (!window_ || dpi == 0) return;
    dpi_ = dpi;
    sizeWindow(window_, width_, height_, dpi, suggested);
    for (const Placed& placed : controls_) {
        RECT r = pixelRect(placed.layout, dpi, placed.offsetX, placed.offsetY);
        SetWindowPos(placed.control, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        HFONT font = sharedFont(placed.font, dpi);
        if (!placed.layout.caption.empty()) font = fittedFont(placed.control, font, dpi);
        SendMessageW(placed.control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    InvalidateRect(window_, nullptr, TRUE);
}

std::string windowText(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    int n = GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(n > 0 ? n : 0));
    return win::toUtf8(text);
}

namespace {

constexpr wchar_t kDefaultButtonProperty[] = L"VeltrixDefaultButton";
constexpr wchar_t kEscapeProperty[] = L"VeltrixEscapeCancels";

bool isPushButton(HWND control) {
    wchar_t kind[16] = {};
    GetClassNameW(control, kind, 16);
    if (lstrcmpiW(kind, L"Button") != 0) return false;
    LONG type = GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

void pressButton(HWND window, int id, HWND button) {
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

// Enter and Esc as each window defines them. Left to IsDialogMessage, Esc
// always means IDCANCEL and Enter IDOK, even with the focus on Cancel.
bool handleEnterOrEscape(HWND top, const MSG& message) {
    const bool keyDown = message.message == WM_KEYDOWN;
    if (!keyDown && message.message != WM_CHAR) return false;
    const bool enter = keyDown ? message.wParam == VK_RETURN : message.wParam == L'\r';
    const bool escape = keyDown ? message.wParam == VK_ESCAPE : message.wParam == 0x1B;
    if (!enter && !escape) return false;
    if (!keyDown) return true;  // the character of a key handled below
    if (escape) {
        if (GetPropW(top, kEscapeProperty)) pressButton(top, IDCANCEL, GetDlgItem(top, IDCANCEL));
        return true;
    }
    HWND focus = GetFocus();
    if (focus && IsChild(top, focus) && isPushButton(focus) && IsWindowEnabled(focus)) {
        pressButton(top, GetDlgCtrlID(focus), focus);
    } else if (auto id = static_cast<int>(reinterpret_cast<INT_PTR>(GetPropW(top, kDefaultButtonProperty)))) {
        pressButton(top, id, GetDlgItem(top, id));
    }
    return true;
}

}  // namespace

void setDialogKeys(HWND window, int defaultButton, bool escapeCancels) {
    SetPropW(window, kDefaultButtonProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(defaultButton)));
    SetPropW(window, kEscapeProperty, reinterpret_cast<HANDLE>(static_cast<INT_PTR>(escapeCancels ? 1 : 0)));
}

bool translateDialogMessage(MSG& message) {
    // Tab and the underlined letters move between and press the controls of
    // the window that holds the focus, as in a dialog.
    HWND top = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (!top || !(GetWindowLongW(top, GWL_EXSTYLE) & WS_EX_CONTROLPARENT)) return false;
    if (handleEnterOrEscape(top, message)) return true;
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
