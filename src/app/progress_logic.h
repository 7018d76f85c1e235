// The geometry of the progress bar: which text it shows, where the text sits
// and how much of the surface the bar covers. The desktop front ends only
// measure the text and paint what this returns.
#pragma once

#include <cstdint>
#include <string>

namespace veltrix {

// The bar surface measures 100 units across, so a percentage is a length.
inline constexpr int kProgressLogicalWidth = 100;
// Vertical lengths stay in twips; the screen has 15 twips per pixel.
inline constexpr int kTwipsPerPixel = 15;

// Rounds to the nearest whole number, halves to the even neighbour.
std::int64_t RoundHalfEven(double value);

// A percentage above the logical width is drawn as the full width; anything
// else is drawn as given.
std::int32_t ClampProgress(std::int32_t percent);

// "45%": the share of the logical width, rounded halves-to-even.
std::string ProgressText(std::int32_t clampedPercent);

struct ProgressLayout {
    int textX = 0;     // pixels, left edge of the text
    int textY = 0;     // pixels, top edge of the text
    int barWidth = 0;  // pixels covered by the bar from the left edge
};

// Places the text and the bar on a surface of the given pixel size, for a
// text the painter measured at textWidth x textHeight pixels. The text is
// centred in logical units: (extent - text extent) rounded, then halved
// dropping the fraction.
ProgressLayout LayoutProgress(std::int32_t clampedPercent, int surfaceWidth, int surfaceHeight, int textWidth,
                              int textHeight);

}  // namespace veltrix
