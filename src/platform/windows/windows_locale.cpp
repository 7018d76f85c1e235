#include "platform/windows/windows_locale.h"

#include <windows.h>

#include "platform/windows/utf16.h"

namespace veltrix {

namespace {

SYSTEMTIME toSystemTime(const DateTime& when) {
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(when.year);
    t.wMonth = static_cast<WORD>(when.month);
    t.wDay = static_cast<WORD>(when.day);
    t.wHour = static_cast<WORD>(when.hour);
    t.wMinute = static_cast<WORD>(when.minute);
    t.wSecond = static_cast<WORD>(when.second);
    return t;
}

std::string localeInfo(LCTYPE type) {
    wchar_t buffer[128] = {};
    int n = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, 128);
    return n > 1 ? win::toUtf8(std::wstring_view(buffer, static_cast<std::size_t>(n - 1))) : std::string();
}

}  // namespace

std::string WindowsLocale::monthName(int month) const {
    if (month < 1 || month > 12) return {};
    std::string name = localeInfo(LOCALE_SMONTHNAME1 + static_cast<LCTYPE>(month - 1));
    if (!name.empty()) return name;
    return EnglishLocale().monthName(month);
}

char WindowsLocale::decimalSeparator() const {
    std::string separator = localeInfo(LOCALE_SDECIMAL);
    // The report's numbers take one character; a separator outside ASCII (or
    // none at all) falls back to the point.
    if (separator.size() == 1 && static_cast<unsigned char>(separator[0]) < 0x80) return separator[0];
    return '.';
}

std::string WindowsLocale::shortDate(const DateTime& when) const {
    SYSTEMTIME t = toSystemTime(when);
    wchar_t buffer[128] = {};
    int n = GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &t, nullptr, buffer, 128, nullptr);
    if (n <= 1) return EnglishLocale().shortDate(when);
    return win::toUtf8(std::wstring_view(buffer, static_cast<std::size_t>(n - 1)));
}

std::string WindowsLocale::longTime(const DateTime& when) const {
    SYSTEMTIME t = toSystemTime(when);
    wchar_t buffer[128] = {};
    int n = GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &t, nullptr, buffer, 128);
    if (n <= 1) return EnglishLocale().longTime(when);
    return win::toUtf8(std::wstring_view(buffer, static_cast<std::size_t>(n - 1)));
}

}  // namespace veltrix
