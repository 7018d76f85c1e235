// frmUpdate: the message line and the progress bar drawn by code. The bar is
// kept in a memory bitmap (the retained image) and copied to the screen after
// every update, which then yields to the message loop once.
#include "app/progress_logic.h"
#include "platform/windows/utf16.h"
#include "ui/win32/win32_windows.h"

namespace veltrix::win32 {

namespace {
constexpr wchar_t kProgressClass[] = L"VeltrixProgress";
constexpr FontSpec kTextFont{L"MS Sans Serif", 8.25, false};
constexpr FontSpec kBoldFont{L"MS Sans Serif", 8.25, true};
}

ProgressWindow::~ProgressWindow() { unload(); }

LRESULT CALLBACK ProgressWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<ProgressWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case WM_NCCREATE: {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
            break;
        }
        case WM_CLOSE:
            // The user cannot close it; the scan unloads it.
            if (self && !self->unloading_) return 0;
            break;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            if (self) self->paintPicture(dc);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_DPICHANGED:
            if (self) self->rescale(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
            return 0;
        case WM_SETCURSOR:
            if (Desktop::waitPointer) {
                SetCursor(LoadCursorW(nullptr, IDC_WAIT));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void ProgressWindow::load() {
    if (window_) return;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kProgressClass;
    windowClass.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    RegisterClassW(&windowClass);  // fails harmlessly when registered already

    window_ = createCentredWindow(kProgressClass, "", kProgressClientWidth, kProgressClientHeight,
                                  WS_POPUP | WS_CAPTION | WS_SYSMENU, nullptr, this);
    if (!window_) return;
    layout_.attach(window_, kProgressClientWidth, kProgressClientHeight);
    hint_ = layout_.addControl(L"STATIC", kProgressHint, SS_CENTER, 0, kTextFont);
    layout_.addControl(L"STATIC", kProgressDo, SS_CENTER, 0, kBoldFont);
    SetWindowTextW(hint_, L"");
    shown_ = -1;
    makePicture();
    pumpMessages();
}

void ProgressWindow::makePicture() {
    picture_ = pixelRect(kProgressPicture, layout_.dpi());
    HDC screen = GetDC(window_);
    memory_ = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, picture_.right - picture_.left, picture_.bottom - picture_.top);
    oldBitmap_ = SelectObject(memory_, bitmap_);
    ReleaseDC(window_, screen);
    RECT all{0, 0, picture_.right - picture_.left, picture_.bottom - picture_.top};
    HBRUSH brush = CreateSolidBrush(back_);
    FillRect(memory_, &all, brush);
    DeleteObject(brush);
}

void ProgressWindow::releasePicture() {
    if (!memory_) return;
    SelectObject(memory_, oldBitmap_);
    DeleteObject(bitmap_);
    DeleteDC(memory_);
    memory_ = nullptr;
    bitmap_ = nullptr;
}

void ProgressWindow::rescale(UINT dpi, const RECT* suggested) {
    if (!window_) return;
    layout_.rescale(dpi, suggested);
    // The bar is drawn again at the new size, as it stood.
    releasePicture();
    makePicture();
    if (shown_ >= 0) {
        update(shown_);
    } else {
        InvalidateRect(window_, nullptr, TRUE);
    }
}

void ProgressWindow::unload() {
    if (!window_) return;
    unloading_ = true;
    DestroyWindow(window_);
    unloading_ = false;
    window_ = nullptr;
    layout_.detach();
    releasePicture();
}

void ProgressWindow::setCaption(std::string_view caption) { SetWindowTextW(window_, win::toWide(caption).c_str()); }
void ProgressWindow::setMessage(std::string_view message) { SetWindowTextW(hint_, win::toWide(message).c_str()); }

void ProgressWindow::show() {
    ShowWindow(window_, SW_SHOWNORMAL);
    UpdateWindow(window_);
}

void ProgressWindow::visiblePicture(COLORREF back, COLORREF fore, bool bold) {
    back_ = back;
    fore_ = fore;
    bold_ = bold;
}

void ProgressWindow::update(std::int32_t percent) {
    if (!window_) return;
    std::int32_t clamped = ClampProgress(percent);
    shown_ = clamped;
    std::wstring text = win::toWide(ProgressText(clamped));
    int width = picture_.right - picture_.left, height = picture_.bottom - picture_.top;

    RECT all{0, 0, width, height};
    HBRUSH background = CreateSolidBrush(back_);
    FillRect(memory_, &all, background);
    DeleteObject(background);

    HGDIOBJ oldFont = SelectObject(memory_, sharedFont(bold_ ? kBoldFont : kTextFont, layout_.dpi()));
    SIZE extent{};
    GetTextExtentPoint32W(memory_, text.c_str(), static_cast<int>(text.size()), &extent);
    ProgressLayout layout = LayoutProgress(clamped, width, height, extent.cx, extent.cy);
    SetBkMode(memory_, TRANSPARENT);
    SetTextColor(memory_, fore_);
    TextOutW(memory_, layout.textX, layout.textY, text.c_str(), static_cast<int>(text.size()));
    SelectObject(memory_, oldFont);

    // The bar in the not-XOR mix: covered text shows in inverted colours.
    if (layout.barWidth > 0) {
        HBRUSH brush = CreateSolidBrush(fore_);
        HPEN pen = CreatePen(PS_SOLID, 1, fore_);
        HGDIOBJ oldBrush = SelectObject(memory_, brush);
        HGDIOBJ oldPen = SelectObject(memory_, pen);
        int oldMix = SetROP2(memory_, R2_NOTXORPEN);
        Rectangle(memory_, 0, 0, layout.barWidth, height);
        SetROP2(memory_, oldMix);
        SelectObject(memory_, oldPen);
        SelectObject(memory_, oldBrush);
        DeleteObject(pen);
        DeleteObject(brush);
    }

    HDC dc = GetDC(window_);
    paintPicture(dc);
    ReleaseDC(window_, dc);
    pumpMessages();
}

void ProgressWindow::paintPicture(HDC target) {
    if (!memory_) return;
    BitBlt(target, picture_.left, picture_.top, picture_.right - picture_.left, picture_.bottom - picture_.top,
           memory_, 0, 0, SRCCOPY);
}

}  // namespace veltrix::win32
