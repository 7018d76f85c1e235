#include "core/timestamp.h"

#include <cctype>
#include <cstdio>
#include <ctime>

namespace veltrix {
namespace {

// Days since 1970-01-01 of a proleptic Gregorian date.
long long daysFromCivil(int year, int month, int day) {
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yoe = year - era * 400;
    const long long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

long long secondsOf(const DateTime& t) {
    return daysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

int daysInMonth(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

DateTime LocalNow() {
    std::time_t t = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    if (std::tm* now = std::localtime(&t)) local = *now;  // the Windows runtime keeps it per thread
#else
    localtime_r(&t, &local);
#endif
    return DateTimeOf(local);
}

std::tm BrokenDownTime(const DateTime& when) {
    std::tm broken{};
    broken.tm_year = when.year - 1900;
    broken.tm_mon = when.month - 1;
    broken.tm_mday = when.day;
    broken.tm_hour = when.hour;
    broken.tm_min = when.minute;
    broken.tm_sec = when.second;
    broken.tm_isdst = -1;
    return broken;
}

DateTime DateTimeOf(const std::tm& broken) {
    return {broken.tm_year + 1900, broken.tm_mon + 1, broken.tm_mday, broken.tm_hour, broken.tm_min, broken.tm_sec};
}

int LocalUtcOffsetMinutes(const DateTime& local) {
    std::tm broken = BrokenDownTime(local);
    const std::time_t instant = std::mktime(&broken);
    if (instant == static_cast<std::time_t>(-1)) return 0;
    std::tm utc{};
#ifdef _WIN32
    if (std::tm* shared = std::gmtime(&instant)) utc = *shared;  // the Windows runtime keeps it per thread
#else
    gmtime_r(&instant, &utc);
#endif
    const DateTime asUtc = DateTimeOf(utc);
    return static_cast<int>((secondsOf(local) - secondsOf(asUtc)) / 60);
}

std::string FormatIso8601(const Timestamp& when) {
    const DateTime& t = when.local;
    const int offset = when.utcOffsetMinutes;
    const int magnitude = offset < 0 ? -offset : offset;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second, offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return buffer;
}

std::optional<Timestamp> ParseIso8601(std::string_view text) {
    auto number = [&](std::size_t at, std::size_t width) -> std::optional<int> {
        if (at + width > text.size()) return std::nullopt;
        int value = 0;
        for (std::size_t i = at; i < at + width; ++i) {
            if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    auto is = [&](std::size_t at, char c) { return at < text.size() && text[at] == c; };
    auto year = number(0, 4), month = number(5, 2), day = number(8, 2);
    auto hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (!year || !month || !day || !hour || !minute || !second || !is(4, '-') || !is(7, '-') ||
        !(is(10, 'T') || is(10, 't')) || !is(13, ':') || !is(16, ':')) {
        return std::nullopt;
    }
    if (*month < 1 || *month > 12 || *day < 1 || *day > daysInMonth(*year, *month) || *hour > 23 || *minute > 59 ||
        *second > 59) {
        return std::nullopt;
    }
    std::size_t at = 19;
    if (is(at, '.')) {
        ++at;
        const std::size_t digits = at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) ++at;
        if (at == digits) return std::nullopt;
    }
    Timestamp out{DateTime{*year, *month, *day, *hour, *minute, *second}, 0};
    if ((is(at, 'Z') || is(at, 'z')) && at + 1 == text.size()) return out;
    if (!(is(at, '+') || is(at, '-')) || at + 6 != text.size() || !is(at + 3, ':')) return std::nullopt;
    auto offsetHours = number(at + 1, 2), offsetMinutes = number(at + 4, 2);
    if (!offsetHours || !offsetMinutes || *offsetHours > 23 || *offsetMinutes > 59) return std::nullopt;
    out.utcOffsetMinutes = (*offsetHours * 60 + *offsetMinutes) * (text[at] == '-' ? -1 : 1);
    return out;
}

}  // namespace veltrix
