#include "app/progress_logic.h"

#include <algorithm>

#include "report/formats.h"

namespace veltrix {

// The window's measures are small; a value beyond the 64-bit range (none
// reaches here) counts as 0 rather than an undefined cast.
std::int64_t RoundHalfEven(double value) { return roundHalfEven(value).value_or(0); }

std::int32_t ClampProgress(std::int32_t percent) {
    return percent > kProgressLogicalWidth ? kProgressLogicalWidth : percent;
}

std::string ProgressText(std::int32_t clampedPercent) {
    const double share = static_cast<double>(clampedPercent) / kProgressLogicalWidth * 100.0;
    return std::to_string(RoundHalfEven(share)) + "%";
}

ProgressLayout LayoutProgress(std::int32_t clampedPercent, int surfaceWidth, int surfaceHeight, int textWidth,
                              int textHeight) {
    ProgressLayout layout;
    if (surfaceWidth <= 0 || surfaceHeight <= 0) return layout;

    const double unitsPerPixel = static_cast<double>(kProgressLogicalWidth) / surfaceWidth;
    // Integer division of the rounded difference truncates toward zero, as
    // the centring rule asks, also when the text is wider than the surface.
    const std::int64_t xUnits = RoundHalfEven(kProgressLogicalWidth - textWidth * unitsPerPixel) / 2;
    layout.textX = static_cast<int>(RoundHalfEven(static_cast<double>(xUnits) / unitsPerPixel));

    const std::int64_t yTwips =
        RoundHalfEven(static_cast<double>(surfaceHeight - textHeight) * kTwipsPerPixel) / 2;
    layout.textY = static_cast<int>(RoundHalfEven(static_cast<double>(yTwips) / kTwipsPerPixel));

    const double bar = std::max(0, clampedPercent) / unitsPerPixel;
    layout.barWidth = static_cast<int>(std::min<std::int64_t>(RoundHalfEven(bar), surfaceWidth));
    return layout;
}

}  // namespace veltrix
