// The user's regional settings, read from the environment's locale without
// changing the process's own C locale (number formatting stays predictable).
#pragma once

#include <locale.h>

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
    locale_t locale_;
};

}  // namespace veltrix
