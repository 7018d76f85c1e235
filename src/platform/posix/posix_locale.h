// The user's regional settings, read from the environment's locale without
// changing the process's own C locale (number formatting stays predictable).
#pragma once

#include <locale.h>

#include <string>
#include <string_view>

#include "core/locale.h"

namespace veltrix {

class PosixLocale final : public Locale {
public:
    PosixLocale();
    ~PosixLocale() override;
    PosixLocale(const PosixLocale&) = delete;
    PosixLocale& operator=(const PosixLocale&) = delete;

    std::string monthName(int month) const override;
    char decimalSeparator() const override;
    std::string shortDate(const DateTime& when) const override;
    std::string longTime(const DateTime& when) const override;

private:
    std::string format(const char* pattern, const DateTime& when) const;
    std::string utf8(const char* text) const;
    locale_t locale_;
};

// `text` in the character set `codeset` (as nl_langinfo names it) as UTF-8;
// bytes that are not text in that set become U+FFFD. The locale answers in
// its own character set, and the report takes UTF-8.
std::string localeTextToUtf8(std::string_view text, const char* codeset);

}  // namespace veltrix
