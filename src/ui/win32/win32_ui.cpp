// The Ui port on Win32: message boxes, the screen pointer and the progress
// window, as the scan driver uses them.
#include "platform/windows/utf16.h"
#include "ui/win32/win32_windows.h"

namespace veltrix::win32 {

void Win32Ui::messageBox(std::string_view text, MessageStyle style, std::string_view title) {
    std::wstring caption = win::toWide(title.empty() ? kAppTitle : title);
    UINT flags = MB_OK | (style == MessageStyle::Critical ? MB_ICONERROR : 0);
    HWND owner = GetActiveWindow();
    MessageBoxW(owner, win::toWide(text).c_str(), caption.c_str(), flags);
}

Status Win32Ui::closeNameDialog() {
    desktop_.closeNameDialog();
    return {};
}

Status Win32Ui::setPointer(int pointer) {
    Desktop::waitPointer = pointer == kPointerHourglass;
    SetCursor(LoadCursorW(nullptr, Desktop::waitPointer ? IDC_WAIT : IDC_ARROW));
    return {};
}

ProgressWindow& Win32Ui::progress() {
    progress_.load();  // any use loads the window, as a reference to it would
    return progress_;
}

Status Win32Ui::progressSetCaption(std::string_view caption) {
    progress().setCaption(caption);
    return {};
}

Status Win32Ui::progressVisiblePicture(std::uint32_t backColor, std::uint32_t foreColor, bool bold) {
    progress().visiblePicture(static_cast<COLORREF>(backColor), static_cast<COLORREF>(foreColor), bold);
    return {};
}

Status Win32Ui::progressSetMessage(std::string_view message) {
    progress().setMessage(message);
    return {};
}

Status Win32Ui::progressShow() {
    progress().show();
    return {};
}

Status Win32Ui::progressUpdate(std::int32_t percent) {
    progress().update(percent);
    return {};
}

Status Win32Ui::progressUnload() {
    progress_.unload();
    return {};
}

Status Win32Ui::unloadMainWindow() {
    desktop_.unloadMain();
    return {};
}

int MainCheckBoxes::hotcheck() const {
    return hot && SendMessageW(hot, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

int MainCheckBoxes::swcheck() const {
    return sw && SendMessageW(sw, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

}  // namespace veltrix::win32
