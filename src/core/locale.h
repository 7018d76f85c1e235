// Month names, the decimal separator and the date and time formats: the
// user's settings on each platform, a fixed English one in tests.
#pragma once

#include <string>

namespace veltrix {

struct DateTime {
    int year = 0, month = 1, day = 1;  // month 1..12
    int hour = 0, minute = 0, second = 0;
};

class Locale {
public:
    virtual ~Locale() = default;
    virtual std::string monthName(int month) const = 0;  // full name, 1..12
    virtual char decimalSeparator() const = 0;
    virtual std::string shortDate(const DateTime& when) const = 0;
    virtual std::string longTime(const DateTime& when) const = 0;
};

// English names, '.', "M/d/yyyy" and "h:mm:ss tt" (the en-US defaults).
class EnglishLocale final : public Locale {
public:
    std::string monthName(int month) const override;
    char decimalSeparator() const override { return '.'; }
    std::string shortDate(const DateTime& when) const override;
    std::string longTime(const DateTime& when) const override;
};

}  // namespace veltrix
