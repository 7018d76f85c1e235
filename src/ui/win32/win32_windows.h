// The windows of the Win32 front end and what they share. Each window is a
// plain window class with child controls placed from the shared layouts.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window_logic.h"
#include "app/scan_state.h"
#include "app/ui.h"
#include "app/window_layouts.h"
#include "core/platform.h"
#include "wmi/service.h"

#ifndef WM_DPICHANGED
#define WM_DPICHANGED 0x02E0
#endif

namespace veltrix::win32 {

// The DPI a window is shown at: its monitor's where the system scales per
// monitor, else the screen's. Layouts and fonts follow it.
UINT windowDpi(HWND window);
// The screen's DPI (the system setting).
UINT screenDpi();
// A system metric as it is at `dpi`.
int systemMetric(int index, UINT dpi);

// Control rectangle in pixels at `dpi` from a layout in twips.
RECT pixelRect(const ControlLayout& layout, UINT dpi, int offsetX = 0, int offsetY = 0);
// Creates a child control of `kind` ("BUTTON", "EDIT", "STATIC") from a
// layout, at the DPI of its parent.
HWND createControl(HWND parent, const wchar_t* kind, const ControlLayout& layout, DWORD style, int id,
                   HFONT font, int offsetX = 0, int offsetY = 0);
// A top-level window of `className` whose client area is width x height
// twips at the window's DPI, centred on its screen.
HWND createCentredWindow(const wchar_t* className, std::string_view caption, int clientWidthTwips,
                         int clientHeightTwips, DWORD style, HWND owner, void* self);
// Gives `window` a client area of width x height twips at `dpi`: at
// `suggested`'s top left corner (the place Windows proposes when the DPI
// changes), or centred on its screen.
void sizeWindow(HWND window, int clientWidthTwips, int clientHeightTwips, UINT dpi, const RECT* suggested);
// `points` at `dpi` (0: the screen's DPI); the caller deletes it.
HFONT makeFont(const wchar_t* face, double points, bool bold, UINT dpi = 0);

struct FontSpec {
    const wchar_t* face;
    double points;
    bool bold;
};
// The font of `wanted` at `dpi`, made once and kept for the life of the
// program (a handful: the windows use three faces at one or two DPIs).
HFONT sharedFont(const FontSpec& wanted, UINT dpi);

// The controls of one top-level window with the layouts they came from, so
// that the window can be laid out again when it moves to a screen of
// another DPI (WM_DPICHANGED).
class ScaledWindow {
public:
    void attach(HWND window, int clientWidthTwips, int clientHeightTwips);
    void detach();
    // Creates a control as createControl does, with the font of `font` at
    // the window's DPI.
    HWND addControl(const wchar_t* kind, const ControlLayout& layout, DWORD style, int id, const FontSpec& font,
                    int offsetX = 0, int offsetY = 0);
    UINT dpi() const { return dpi_; }
    // Sizes the window, places every control and gives each its font again
    // at `dpi`; `suggested` is the rectangle WM_DPICHANGED proposes.
    void rescale(UINT dpi, const RECT* suggested);

private:
    struct Placed {
        HWND control;
        ControlLayout layout;
        FontSpec font;
        int offsetX, offsetY;
    };
    HWND window_ = nullptr;
    int width_ = 0, height_ = 0;
    UINT dpi_ = 96;
    std::vector<Placed> controls_;
};

// The control's caption measured in `font` as the control draws it.
int captionWidth(HWND control, HFONT font);
// `font`, or a smaller size of it, so that the control's caption fits its
// width: the layouts were made for one system font, and another (Wine's, a
// larger setting) would clip it. createControl applies this to captions.
HFONT fittedFont(HWND control, HFONT font);
// The same with the control's metrics at `dpi` (the DPI it is being laid out for).
HFONT fittedFont(HWND control, HFONT font, UINT dpi);
HFONT sendFont(HWND control);
HFONT smallerFont(HFONT a, HFONT b);
std::string windowText(HWND window);
// Handles pending messages of all windows once, as the progress updates do.
void pumpMessages();
// True when the message was a keyboard navigation (Tab, Enter, Esc) of its
// window, which has been handled.
bool translateDialogMessage(MSG& message);
// Enter presses the focused push button, else `defaultButton` (0: none);
// Esc presses IDCANCEL when `escapeCancels`, else does nothing.
void setDialogKeys(HWND window, int defaultButton, bool escapeCancels);

class ProgressWindow {
public:
    ~ProgressWindow();
    void load();
    void unload();
    bool loaded() const { return window_ != nullptr; }
    void setCaption(std::string_view caption);
    void setMessage(std::string_view message);
    void show();
    void visiblePicture(COLORREF back, COLORREF fore, bool bold);
    void update(std::int32_t percent);

    // For tests: the window and the retained image of the bar.
    HWND handle() const { return window_; }
    SIZE pictureSize() const { return {picture_.right - picture_.left, picture_.bottom - picture_.top}; }
    COLORREF picturePixel(int x, int y) const { return memory_ ? GetPixel(memory_, x, y) : CLR_INVALID; }
    UINT dpi() const { return layout_.dpi(); }

    // The window moved to a screen of another DPI: everything at that DPI.
    void rescale(UINT dpi, const RECT* suggested);

private:
    static LRESULT CALLBACK procedure(HWND, UINT, WPARAM, LPARAM);
    void paintPicture(HDC target);
    // The retained image at the picture's size, in the background colour.
    void makePicture();
    void releasePicture();
    HWND window_ = nullptr;
    HWND hint_ = nullptr;
    HDC memory_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ oldBitmap_ = nullptr;
    COLORREF back_ = RGB(255, 255, 255), fore_ = RGB(0, 0, 0);
    bool bold_ = false;
    bool unloading_ = false;
    std::int32_t shown_ = -1;  // the last percentage drawn, -1 none
    RECT picture_{};
    ScaledWindow layout_;
};

class Desktop;

class Win32Ui final : public Ui {
public:
    explicit Win32Ui(Desktop& desktop) : desktop_(desktop) {}
    void messageBox(std::string_view text, MessageStyle style, std::string_view title = {}) override;
    Status closeNameDialog() override;
    Status setPointer(int pointer) override;
    Status progressSetCaption(std::string_view caption) override;
    Status progressVisiblePicture(std::uint32_t backColor, std::uint32_t foreColor, bool bold) override;
    Status progressSetMessage(std::string_view message) override;
    Status progressShow() override;
    Status progressUpdate(std::int32_t percent) override;
    Status progressUnload() override;
    Status unloadMainWindow() override;

private:
    ProgressWindow& progress();
    Desktop& desktop_;
    ProgressWindow progress_;
};

// The check boxes of the main window, read when a collector asks.
class MainCheckBoxes final : public CheckBoxes {
public:
    HWND hot = nullptr, sw = nullptr;
    int hotcheck() const override;
    int swcheck() const override;
};

class Desktop {
public:
    Desktop(Platform& platform, wmi::Service& wmi, const Locale& locale);
    ~Desktop();
    int run();

    // Windows.
    void showNameDialog();
    void closeNameDialog();
    void showCommentDialog();
    void unloadMain();
    HWND mainWindow() const { return main_; }

    static bool waitPointer;

private:
    static LRESULT CALLBACK mainProcedure(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK nameProcedure(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK commentProcedure(HWND, UINT, WPARAM, LPARAM);
    static LRESULT CALLBACK nameFieldProcedure(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
    void createMain();
    void startUp();
    void paintLogo(HDC dc);
    void confirmName();
    // Both switches read alike: each takes the smaller of their fitted fonts.
    void matchBoxFonts();

    Platform& platform_;
    wmi::Service& wmi_;
    const Locale& locale_;
    Win32Ui ui_;
    ScanState state_;
    MainWindowLogic logic_;
    MainCheckBoxes boxes_;
    HWND main_ = nullptr;
    HWND nameDialog_ = nullptr;
    HWND nameField_ = nullptr;
    HWND commentDialog_ = nullptr;
    HWND commentField_ = nullptr;
    ScaledWindow mainLayout_, nameLayout_, commentLayout_;
};

}  // namespace veltrix::win32
