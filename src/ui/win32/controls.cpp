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
int captionRoom(HWND control) {
    RECT client{};
    GetClientRect(control, &client);
    int width = client.right - client.left;
    wchar_t kind[16] = {};
    GetClassNameW(control, kind, 16);
    if (lstrcmpiW(kind, L"Button") != 0) return width;
    LONG type = GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK;
    if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON)
        return width - GetSystemMetrics(SM_CXMENUCHECK) - 2 * GetSystemMetrics(SM_CXEDGE);
    return width - 2 * (GetSystemMetrics(SM_CXEDGE) + 2);
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

HFONT fittedFont(HWND control, HFONT font) {
    LOGFONTW base{};
    if (!GetObjectW(font, sizeof base, &base)) return font;
    const int room = captionRoom(control);
    // Negative heights are character heights; the font shrinks a pixel at a
    // time, down to the smallest size that still reads (6 points).
    const LONG sign = base.lfHeight < 0 ? -1 : 1;
    const LONG start = std::abs(base.lfHeight);
    HDC screen = GetDC(nullptr);
    const LONG smallest = std::min<LONG>(start, MulDiv(6, GetDeviceCaps(screen, LOGPIXELSY), 72));
    ReleaseDC(nullptr, screen);
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
