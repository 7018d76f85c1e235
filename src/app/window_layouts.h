// Captions, positions (twips) and tab order of the desktop windows' controls,
// shared by every front end so that each draws the same windows.
#pragma once

#include <array>
#include <string_view>

namespace veltrix {

struct ControlLayout {
    std::string_view name;
    std::string_view caption;
    int left, top, width, height;  // twips
    int tabIndex;                  // -1: not a tab stop
};

// Rounded to the nearest pixel at 15 twips per pixel.
constexpr int TwipsToPixels(int twips) { return twips >= 0 ? (twips + 7) / 15 : -((-twips + 7) / 15); }

// The same on a screen of `dpi` dots per inch (1440 twips an inch), rounded
// to the nearest pixel: at 96 DPI exactly TwipsToPixels, at 144 DPI (150%
// scaling) half as large again.
constexpr int TwipsToPixelsAt(int twips, int dpi) {
    const long long dots = static_cast<long long>(twips) * dpi;
    return static_cast<int>(dots >= 0 ? (dots + 720) / 1440 : -((-dots + 720) / 1440));
}

inline constexpr std::string_view kMainCaption = "Veltrix";
inline constexpr std::string_view kStartCaption = "Veltrix";
inline constexpr std::string_view kStartText = "Please wait . . .";
inline constexpr std::string_view kNameDialogCaption = "Set Filename";
inline constexpr std::string_view kCommentCaption = "Comment";

// The main window, listed in tab order.
inline constexpr std::array<ControlLayout, 5> kMainControls{{
    {"btnEnde", "E&xit", 5520, 840, 1815, 495, 0},
    {"btnCreateReport", "create &report", 3120, 840, 1815, 495, 1},
    {"swcheck", "Software Inventory", 4920, 240, 1695, 255, 2},
    {"hotcheck", "Hotfix Inventory", 3120, 240, 1695, 255, 3},
    {"Addcomment", "Add Comment", 6960, 120, 975, 495, 4},
}};
// The logo fills the left side, up to the first column of controls.
inline constexpr ControlLayout kMainLogo{"imgLogo", "", 120, 120, 2880, 1215, -1};
inline constexpr int kMainClientWidth = 8100;   // twips
inline constexpr int kMainClientHeight = 1500;  // twips

// The report name dialog: about 297 x 79 pixels of client area.
inline constexpr std::array<ControlLayout, 4> kNameDialogControls{{
    {"T_cuz", "", 120, 450, 4215, 315, 0},
    {"Label1", "Filename", 120, 120, 4215, 285, 1},
    {"bb_cuzokay", "&Ok", 1935, 840, 1125, 345, 2},
    {"bb_cuzabbrechen", "&Cancel", 3210, 840, 1125, 345, 3},
}};
inline constexpr int kNameDialogClientWidth = 297 * 15;
inline constexpr int kNameDialogClientHeight = 79 * 15;

// The comment dialog: a panel with the prompt and the text box, the buttons
// below it. Panel-relative positions for the first two.
inline constexpr ControlLayout kCommentPanel{"Frame", "", 120, 120, 5655, 2895, -1};
inline constexpr std::array<ControlLayout, 4> kCommentControls{{
    {"txtComment", "", 240, 600, 5175, 1815, 0},
    {"cmdOK", "OK", 3450, 3135, 1095, 375, 1},
    {"cmdCancel", "Cancel", 4680, 3135, 1095, 375, 2},
    {"lblNotes", "Enter comments to add this to the report:", 120, 120, 5295, 375, -1},
}};
inline constexpr int kCommentClientWidth = 5895;
inline constexpr int kCommentClientHeight = 3630;

// The progress window.
inline constexpr ControlLayout kProgressHint{"lblHinweis", "", 120, 240, 7815, 375, -1};
inline constexpr ControlLayout kProgressDo{"lblDo", "", 120, 720, 7815, 375, -1};
inline constexpr ControlLayout kProgressPicture{"Picture1", "", 120, 1320, 7815, 375, -1};
inline constexpr int kProgressClientWidth = 8055;
inline constexpr int kProgressClientHeight = 1815;

}  // namespace veltrix
