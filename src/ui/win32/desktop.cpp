// frmMain, frmStart, frmcuz and frmComment on Win32. The behaviour behind the
// buttons is the shared window logic; this file only draws and wires it.
#include "ui/win32/desktop.h"

#include <windows.h>
#include <commctrl.h>

#include "app/comment_logic.h"
#include "app/main_window_logic.h"
#include "app/report_name_logic.h"
#include "app/scan_driver.h"
#include "platform/windows/utf16.h"
#include "ui/win32/win32_windows.h"

namespace veltrix::win32 {

namespace {

constexpr wchar_t kMainClass[] = L"VeltrixMain";
constexpr wchar_t kStartClass[] = L"VeltrixStart";
constexpr wchar_t kNameClass[] = L"VeltrixName";
constexpr wchar_t kCommentClass[] = L"VeltrixComment";

constexpr FontSpec kDialogFont{L"MS Shell Dlg 2", 8.25, false};
constexpr FontSpec kLabelFont{L"Tahoma", 9.75, true};
constexpr FontSpec kStartFont{L"Tahoma", 12, false};
constexpr FontSpec kLogoFont{L"Arial", 20, true};

enum ControlId {
    kExitButton = 101,
    kCreateButton,
    kSoftwareBox,
    kHotfixBox,
    kCommentButton,
    kNameField = 201,
    kCommentField = 301,
};

// The style of each control of the shared layouts.
DWORD controlStyle(std::string_view name) {
    if (name == "swcheck" || name == "hotcheck") return BS_AUTOCHECKBOX | WS_TABSTOP;
    if (name == "T_cuz") return WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;
    if (name == "txtComment") return WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP;
    if (name == "bb_cuzokay") return BS_DEFPUSHBUTTON | WS_TABSTOP;
    if (name.substr(0, 3) == "lbl" || name.substr(0, 5) == "Label") return SS_LEFT;
    return BS_PUSHBUTTON | WS_TABSTOP;
}

int controlId(std::string_view name) {
    if (name == "btnEnde") return kExitButton;
    if (name == "btnCreateReport") return kCreateButton;
    if (name == "swcheck") return kSoftwareBox;
    if (name == "hotcheck") return kHotfixBox;
    if (name == "Addcomment") return kCommentButton;
    if (name == "T_cuz") return kNameField;
    if (name == "txtComment") return kCommentField;
    if (name == "bb_cuzokay" || name == "cmdOK") return IDOK;
    if (name == "bb_cuzabbrechen" || name == "cmdCancel") return IDCANCEL;
    return 0;
}

void registerClass(const wchar_t* name, WNDPROC procedure) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.hIcon = LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(1));
    windowClass.lpszClassName = name;
    RegisterClassW(&windowClass);
}

Desktop* self(HWND window) { return reinterpret_cast<Desktop*>(GetWindowLongPtrW(window, GWLP_USERDATA)); }

// Stores the Desktop on creation and answers the pointer while a scan runs.
bool commonMessage(HWND window, UINT message, LPARAM lParam, LRESULT& result) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    } else if (message == WM_SETCURSOR && Desktop::waitPointer) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        result = TRUE;
        return true;
    }
    return false;
}

LRESULT CALLBACK startProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

bool Desktop::waitPointer = false;

Desktop::Desktop(Platform& platform, wmi::Service& wmi, const Locale& locale)
    : platform_(platform), wmi_(wmi), locale_(locale), ui_(*this) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    registerClass(kMainClass, mainProcedure);
    registerClass(kStartClass, startProcedure);
    registerClass(kNameClass, nameProcedure);
    registerClass(kCommentClass, commentProcedure);
}

// The fonts are shared for the life of the program (sharedFont).
Desktop::~Desktop() = default;

int Desktop::run() {
    createMain();
    if (!main_) return 1;
    startUp();
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (translateDialogMessage(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

void Desktop::createMain() {
    main_ = createCentredWindow(kMainClass, kMainCaption, kMainClientWidth, kMainClientHeight,
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, nullptr, this);
    if (!main_) return;
    mainLayout_.attach(main_, kMainClientWidth, kMainClientHeight);
    for (const ControlLayout& control : kMainControls) {
        HWND handle = mainLayout_.addControl(L"BUTTON", control, controlStyle(control.name), controlId(control.name),
                                             kDialogFont);
        if (control.name == "hotcheck") boxes_.hot = handle;
        if (control.name == "swcheck") boxes_.sw = handle;
    }
    setDialogKeys(main_, 0, false);
    matchBoxFonts();
    // Both inventories are ticked at start.
    SendMessageW(boxes_.hot, BM_SETCHECK, BST_CHECKED, 0);
    SendMessageW(boxes_.sw, BM_SETCHECK, BST_CHECKED, 0);
}

void Desktop::matchBoxFonts() {
    HFONT boxFont = smallerFont(sendFont(boxes_.hot), sendFont(boxes_.sw));
    for (HWND box : {boxes_.hot, boxes_.sw}) SendMessageW(box, WM_SETFONT, reinterpret_cast<WPARAM>(boxFont), TRUE);
}

void Desktop::startUp() {
    ui_.setPointer(kPointerHourglass);
    ShowWindow(main_, SW_HIDE);
    HWND start = createCentredWindow(kStartClass, kStartCaption, 4200, 1200, WS_POPUP | WS_CAPTION, main_, this);
    if (start) {
        ControlLayout label{"lblCenter", kStartText, 0, 360, 4200, 480, -1};
        createControl(start, L"STATIC", label, SS_CENTER, 0, sharedFont(kStartFont, windowDpi(start)));
        ShowWindow(start, SW_SHOWNORMAL);
        UpdateWindow(start);
        ShowWindow(start, SW_HIDE);
        DestroyWindow(start);
    }
    ShowWindow(main_, SW_SHOWNORMAL);
    UpdateWindow(main_);
    ui_.setPointer(kPointerDefault);
}

void Desktop::paintLogo(HDC dc) {
    // Our own simple logo: the name on the program's dark blue.
    RECT r = pixelRect(kMainLogo, mainLayout_.dpi());
    HBRUSH brush = CreateSolidBrush(RGB(0x10, 0x30, 0x80));
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    HGDIOBJ old = SelectObject(dc, sharedFont(kLogoFont, mainLayout_.dpi()));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    DrawTextW(dc, L"VELTRIX", -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, old);
}

void Desktop::unloadMain() {
    if (main_) DestroyWindow(main_);
}

LRESULT CALLBACK Desktop::mainProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (commonMessage(window, message, lParam, result)) return result;
    Desktop* desktop = self(window);
    switch (message) {
        case WM_COMMAND:
            if (!desktop) break;
            switch (LOWORD(wParam)) {
                // A scan pumps messages while it runs: the buttons must not
                // reach it (the scan unloads the window itself when done).
                case kExitButton:
                    if (desktop->logic_.allows(MainWindowAction::Exit)) desktop->unloadMain();
                    return 0;
                case kCreateButton:
                    if (desktop->logic_.allows(MainWindowAction::CreateReport)) desktop->showNameDialog();
                    return 0;
                case kCommentButton:
                    if (desktop->logic_.allows(MainWindowAction::AddComment)) desktop->showCommentDialog();
                    return 0;
                default: break;
            }
            break;
        case WM_CLOSE:  // the close button, Alt+F4, the system menu
            if (desktop && !desktop->logic_.allows(MainWindowAction::Close)) return 0;
            break;
        case WM_DPICHANGED:  // moved to a screen of another scaling
            if (desktop) {
                desktop->mainLayout_.rescale(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
                desktop->matchBoxFonts();
            }
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            if (desktop) desktop->paintLogo(dc);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_DESTROY:
            if (desktop) {
                desktop->main_ = nullptr;
                desktop->nameDialog_ = nullptr;  // owned windows go with it
                desktop->nameField_ = nullptr;
                desktop->mainLayout_.detach();
                desktop->nameLayout_.detach();
            }
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// frmcuz ---------------------------------------------------------------------

void Desktop::showNameDialog() {
    if (nameDialog_) {  // the one dialog again, not a second one
        ShowWindow(nameDialog_, SW_SHOWNORMAL);
        SetForegroundWindow(nameDialog_);
        return;
    }
    nameDialog_ = createCentredWindow(kNameClass, kNameDialogCaption, kNameDialogClientWidth,
                                      kNameDialogClientHeight, WS_POPUP | WS_CAPTION | WS_SYSMENU, main_, this);
    if (!nameDialog_) return;
    nameLayout_.attach(nameDialog_, kNameDialogClientWidth, kNameDialogClientHeight);
    for (const ControlLayout& control : kNameDialogControls) {
        const wchar_t* kind = control.name == "T_cuz" ? L"EDIT" : control.name == "Label1" ? L"STATIC" : L"BUTTON";
        HWND handle = nameLayout_.addControl(kind, control, controlStyle(control.name), controlId(control.name),
                                             control.name == "Label1" ? kLabelFont : kDialogFont);
        if (control.name == "T_cuz") nameField_ = handle;
    }
    // Enter presses "&Ok"; Esc does nothing: only Cancel and the close
    // button give up the name.
    setDialogKeys(nameDialog_, IDOK, false);
    SetWindowSubclass(nameField_, nameFieldProcedure, 1, 0);
    if (auto proposal = ProposeReportName(wmi_)) SetWindowTextW(nameField_, win::toWide(*proposal).c_str());
    ShowWindow(nameDialog_, SW_SHOWNORMAL);
    SetFocus(nameField_);
}

void Desktop::closeNameDialog() {
    if (!nameDialog_) return;
    HWND dialog = nameDialog_;
    nameDialog_ = nullptr;
    nameField_ = nullptr;
    nameLayout_.detach();
    DestroyWindow(dialog);
}

void Desktop::confirmName() {
    // The name step empties the report file: never under a running scan.
    if (!logic_.allows(MainWindowAction::CreateReport)) return;
    std::string text = windowText(nameField_);
    auto runScan = [this] {
        logic_.runScan([this] {
            ScanServices services{ui_, platform_, wmi_, locale_, boxes_};
            RunScan(state_, services);
        });
    };
    if (ConfirmReportName(text, state_, platform_, ui_, runScan) == NameConfirmation::Refused && nameField_) {
        SetFocus(nameField_);
    }
}

LRESULT CALLBACK Desktop::nameFieldProcedure(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                             DWORD_PTR) {
    if (message == WM_CHAR && IsRefusedNameCharacter(static_cast<char32_t>(wParam))) return 0;
    if (message == WM_PASTE) {
        // Pasted text loses the refused characters too, so a pasted path can
        // never send the report outside the program folder.
        std::string text;
        if (OpenClipboard(field)) {
            if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
                if (auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
                    text = win::toUtf8(chars);
                    GlobalUnlock(data);
                }
            }
            CloseClipboard();
        }
        SendMessageW(field, EM_REPLACESEL, TRUE,
                     reinterpret_cast<LPARAM>(win::toWide(FilterNameText(text)).c_str()));
        return 0;
    }
    return DefSubclassProc(field, message, wParam, lParam);
}

LRESULT CALLBACK Desktop::nameProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (commonMessage(window, message, lParam, result)) return result;
    Desktop* desktop = self(window);
    if (desktop && message == WM_COMMAND) {
        if (LOWORD(wParam) == IDOK) {
            desktop->confirmName();
            return 0;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            desktop->closeNameDialog();
            return 0;
        }
    }
    if (desktop && message == WM_CLOSE) {
        desktop->closeNameDialog();
        return 0;
    }
    if (desktop && message == WM_DPICHANGED) {
        desktop->nameLayout_.rescale(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// frmComment -----------------------------------------------------------------

void Desktop::showCommentDialog() {
    if (commentDialog_) return;
    commentDialog_ = createCentredWindow(kCommentClass, kCommentCaption, kCommentClientWidth, kCommentClientHeight,
                                         WS_POPUP | WS_CAPTION | WS_SYSMENU, main_, this);
    if (!commentDialog_) return;
    commentLayout_.attach(commentDialog_, kCommentClientWidth, kCommentClientHeight);
    commentLayout_.addControl(L"BUTTON", kCommentPanel, BS_GROUPBOX, 0, kDialogFont);
    for (const ControlLayout& control : kCommentControls) {
        bool inPanel = control.name == "txtComment" || control.name == "lblNotes";
        const wchar_t* kind =
            control.name == "txtComment" ? L"EDIT" : control.name == "lblNotes" ? L"STATIC" : L"BUTTON";
        HWND handle = commentLayout_.addControl(kind, control, controlStyle(control.name), controlId(control.name),
                                                kDialogFont, inPanel ? kCommentPanel.left : 0,
                                                inPanel ? kCommentPanel.top : 0);
        if (control.name == "txtComment") commentField_ = handle;
    }
    // No default button, so Enter in the text box confirms nothing; Esc is
    // Cancel.
    setDialogKeys(commentDialog_, 0, true);
    std::string stored = CommentForDialog(state_);
    if (!stored.empty()) SetWindowTextW(commentField_, win::toWide(stored).c_str());

    // Modal: the main window waits until the dialog is gone.
    EnableWindow(main_, FALSE);
    ShowWindow(commentDialog_, SW_SHOWNORMAL);
    SetFocus(commentField_);
    MSG message;
    while (commentDialog_) {
        if (GetMessageW(&message, nullptr, 0, 0) <= 0) {
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (translateDialogMessage(message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    if (main_) {
        EnableWindow(main_, TRUE);
        SetActiveWindow(main_);
    }
}

LRESULT CALLBACK Desktop::commentProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (commonMessage(window, message, lParam, result)) return result;
    Desktop* desktop = self(window);
    bool close = false;
    if (desktop && message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        ConfirmComment(desktop->state_, windowText(desktop->commentField_));
        close = true;
    }
    if (desktop && ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE)) close = true;
    if (desktop && message == WM_DPICHANGED) {
        desktop->commentLayout_.rescale(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    }
    if (close) {
        if (desktop->main_) EnableWindow(desktop->main_, TRUE);  // before the owner would lose activation
        HWND dialog = desktop->commentDialog_;
        desktop->commentDialog_ = nullptr;
        desktop->commentField_ = nullptr;
        desktop->commentLayout_.detach();
        DestroyWindow(dialog);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int runDesktop(Platform& platform, wmi::Service& wmi, const Locale& locale) {
    Desktop desktop(platform, wmi, locale);
    return desktop.run();
}

}  // namespace veltrix::win32
