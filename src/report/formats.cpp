#include "report/formats.h"

#include <cmath>
#include <cstdio>

namespace veltrix {

std::string formatNumberPattern(double value) {
    double rounded = std::round(value);  // halves away from zero
    if (rounded == 0) return {};
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.0f", rounded);
    return buffer;
}

std::optional<std::int64_t> roundHalfEven(double value) {
    const double rounded = std::nearbyint(value);  // default rounding mode: to nearest even
    // Casting a double outside the 64-bit range is undefined; 2^63 itself is
    // already one past the largest value.
    constexpr double kLimit = 9223372036854775808.0;
    if (!(rounded >= -kLimit && rounded < kLimit)) return std::nullopt;
    return static_cast<std::int64_t>(rounded);
}

std::string formatScanTime(const DateTime& when, const Locale& locale) {
    char head[8];
    char tail[32];
    std::snprintf(head, sizeof head, "%02d-", when.day);
    std::snprintf(tail, sizeof tail, "-%04d %02d:%02d", when.year, when.hour, when.minute);
    return head + locale.monthName(when.month) + tail;
}

}  // namespace veltrix
