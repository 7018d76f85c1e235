#include "platform/posix/posix_locale.h"

#include "core/timestamp.h"

#include <iconv.h>
#include <langinfo.h>
#include <strings.h>

#include <cerrno>
#include <ctime>

namespace veltrix {

// Only the categories the report asks about: the character set its texts
// come in, the decimal separator, and month names and date formats. The
// others stay "C", which spares loading nine more locale files at each start.
constexpr int kUsedCategories = LC_CTYPE_MASK | LC_NUMERIC_MASK | LC_TIME_MASK;

PosixLocale::PosixLocale() {
    locale_ = newlocale(kUsedCategories, "", static_cast<locale_t>(0));
    if (locale_ == static_cast<locale_t>(0)) locale_ = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
}

std::string localeTextToUtf8(std::string_view text, const char* codeset) {
    if (!codeset || !*codeset || ::strcasecmp(codeset, "UTF-8") == 0) return std::string(text);
    iconv_t converter = ::iconv_open("UTF-8", codeset);
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::string(text);
    std::string out;
    std::string input(text);
    char* in = input.data();
    std::size_t inLeft = input.size();
    char buffer[256];
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t done = ::iconv(converter, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (done == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // A byte the character set does not know, or a cut sequence.
            out += "\xEF\xBF\xBD";
            ++in;
            --inLeft;
        }
    }
    ::iconv_close(converter);
    return out;
}

std::string PosixLocale::utf8(const char* text) const {
    if (!text) return {};
    return localeTextToUtf8(text, nl_langinfo_l(CODESET, locale_));
}

PosixLocale::~PosixLocale() {
    if (locale_ != static_cast<locale_t>(0)) freelocale(locale_);
}

std::string PosixLocale::monthName(int month) const {
    if (month < 1 || month > 12) return {};
    return utf8(nl_langinfo_l(static_cast<nl_item>(MON_1 + month - 1), locale_));
}

char PosixLocale::decimalSeparator() const {
    const char* radix = nl_langinfo_l(RADIXCHAR, locale_);
    return (radix && radix[0] && !radix[1]) ? radix[0] : '.';
}

std::string PosixLocale::format(const char* pattern, const DateTime& when) const {
    std::tm tm = BrokenDownTime(when);
    char buffer[128];
    std::size_t n = strftime_l(buffer, sizeof buffer, pattern, &tm, locale_);
    return utf8(std::string(buffer, n).c_str());
}

std::string PosixLocale::shortDate(const DateTime& when) const {
    return format(nl_langinfo_l(D_FMT, locale_), when);
}

std::string PosixLocale::longTime(const DateTime& when) const {
    return format(nl_langinfo_l(T_FMT, locale_), when);
}

}  // namespace veltrix
