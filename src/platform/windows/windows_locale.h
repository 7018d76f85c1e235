// The user's regional settings as Windows keeps them.
#pragma once

#include "core/locale.h"

namespace veltrix {

class WindowsLocale final : public Locale {
public:
    std::string monthName(int month) const override;
    char decimalSeparator() const override;
    std::string shortDate(const DateTime& when) const override;
    std::string longTime(const DateTime& when) const override;
};

}  // namespace veltrix
