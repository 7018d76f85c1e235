#include "platform/posix/posix_locale.h"

#include <langinfo.h>

#include <ctime>

namespace veltrix {

PosixLocale::PosixLocale() {
    locale_ = newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
    if (locale_ == static_cast<locale_t>(0)) locale_ = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
}

PosixLocale::~PosixLocale() {
    if (locale_ != static_cast<locale_t>(0)) freelocale(locale_);
}

std::string PosixLocale::monthName(int month) const {
    if (month < 1 || month > 12) return {};
    return nl_langinfo_l(static_cast<nl_item>(MON_1 + month - 1), locale_);
}

char PosixLocale::decimalSeparator() const {
    const char* radix = nl_langinfo_l(RADIXCHAR, locale_);
    return (radix && radix[0] && !radix[1]) ? radix[0] : '.';
}

std::string PosixLocale::format(const char* pattern, const DateTime& when) const {
    std::tm tm{};
    tm.tm_year = when.year - 1900;
    tm.tm_mon = when.month - 1;
    tm.tm_mday = when.day;
    tm.tm_hour = when.hour;
    tm.tm_min = when.minute;
    tm.tm_sec = when.second;
    char buffer[128];
    std::size_t n = strftime_l(buffer, sizeof buffer, pattern, &tm, locale_);
    return std::string(buffer, n);
}

std::string PosixLocale::shortDate(const DateTime& when) const {
    return format(nl_langinfo_l(D_FMT, locale_), when);
}

std::string PosixLocale::longTime(const DateTime& when) const {
    return format(nl_langinfo_l(T_FMT, locale_), when);
}

}  // namespace veltrix
