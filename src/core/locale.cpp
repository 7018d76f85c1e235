#include "core/locale.h"

#include <cstdio>

namespace veltrix {

std::string EnglishLocale::monthName(int month) const {
    static constexpr const char* kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                                              "July",    "August",   "September", "October", "November", "December"};
    return (month >= 1 && month <= 12) ? kMonths[month - 1] : std::string();
}

std::string EnglishLocale::shortDate(const DateTime& when) const {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d/%d/%04d", when.month, when.day, when.year);
    return buffer;
}

std::string EnglishLocale::longTime(const DateTime& when) const {
    int hour12 = when.hour % 12 == 0 ? 12 : when.hour % 12;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%d:%02d:%02d %s", hour12, when.minute, when.second,
                  when.hour < 12 ? "AM" : "PM");
    return buffer;
}

}  // namespace veltrix
