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

std::int64_t roundHalfEven(double value) {
    return static_cast<std::int64_t>(std::nearbyint(value));  // default rounding mode: to nearest even
}

std::string formatScanTime(const DateTime& when, const Locale& locale) {
    char head[8];
    char tail[32];
    std::snprintf(head, sizeof head, "%02d-", when.day);
    std::snprintf(tail, sizeof tail, "-%04d %02d:%02d", when.year, when.hour, when.minute);
    return head + locale.monthName(when.month) + tail;
}

}  // namespace veltrix
