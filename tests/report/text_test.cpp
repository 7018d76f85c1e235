#include "report/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "report/encoding.h"
#include "report/formats.h"

namespace veltrix {
namespace {

TEST(CutPnpDeviceId, CutsAtTheBackslashAfterTheRevision) {
    EXPECT_EQ(CutPnpDeviceId("PCI\\VEN_8086&DEV_1C3A&SUBSYS_21FA17AA&REV_04\\3&21436425&0&B0"),
              "PCI\\VEN_8086&DEV_1C3A&SUBSYS_21FA17AA&REV_04");
    EXPECT_EQ(CutPnpDeviceId("pci\\ven_8086&dev_1c3a&rev_04\\3&1"), "pci\\ven_8086&dev_1c3a&rev_04");
    EXPECT_EQ(CutPnpDeviceId("USB\\VID_046D&PID_C52B\\6&2B3A"), "USB\\VID_046D&PID_C52B\\6&2B3A");
    EXPECT_EQ(CutPnpDeviceId(""), "");
    // No backslash after the revision: nothing to cut, the id comes back whole.
    EXPECT_EQ(CutPnpDeviceId("PCI\\VEN_8086&DEV_1C3A&REV_04"), "PCI\\VEN_8086&DEV_1C3A&REV_04");
}

TEST(EncodeHtmlChars, UmlautsAndQuoteOnlyAndTheArgumentIsReplaced) {
    std::string text = "Pr\xC3\xBC" "fung \xC3\x9F \"\xC3\x84\xC3\x96\xC3\x9C\xC3\xA4\xC3\xB6\" & <b>";
    std::string result = EncodeHtmlChars(text);
    EXPECT_EQ(result, "Pr&uuml;fung \xC3\x9F &#34;&Auml;&Ouml;&Uuml;&auml;&ouml;&#34; & <b>");
    EXPECT_EQ(text, result);
    std::string again = result;
    EXPECT_EQ(EncodeHtmlChars(again), result);  // entities hold no umlaut
    std::string empty;
    EXPECT_EQ(EncodeHtmlChars(empty), "");
}

TEST(EscapeMarkup, OnlyAngleBrackets) {
    EXPECT_EQ(EscapeMarkup("<script>a&b</script>"), "&lt;script&gt;a&b&lt;/script&gt;");
    EXPECT_EQ(EscapeMarkup("PCI\\VEN_1&DEV_2"), "PCI\\VEN_1&DEV_2");
    // Control characters but TAB become spaces; bytes above ASCII stay.
    EXPECT_EQ(EscapeMarkup(std::string("a\0b\r\nc\td\x1b\x7f\xc3\xa9", 12)), "a b  c\td  \xc3\xa9");
}

TEST(Formats, HashPatternAndHalfEvenRounding) {
    EXPECT_EQ(formatNumberPattern(465.76), "466");
    EXPECT_EQ(formatNumberPattern(2.5), "3");
    EXPECT_EQ(formatNumberPattern(0.4), "");
    EXPECT_EQ(formatNumberPattern(1.39), "1");
    EXPECT_EQ(formatNumberPattern(1e12), "1000000000000");
    EXPECT_EQ(roundHalfEven(2.5), 2);
    EXPECT_EQ(roundHalfEven(3.5), 4);
    EXPECT_EQ(roundHalfEven(4096.0), 4096);
    EXPECT_EQ(roundHalfEven(3e9), 3000000000LL);
    // Beyond 64 bits (or not finite) there is no whole number to give.
    EXPECT_EQ(roundHalfEven(-9223372036854775808.0), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(roundHalfEven(9223372036854774784.0), 9223372036854774784LL);
    for (double beyond : {9223372036854775808.0, -9223372036854777856.0, 1e300, HUGE_VAL, std::nan("")}) {
        EXPECT_FALSE(roundHalfEven(beyond).has_value()) << beyond;
    }
}

TEST(Formats, ScanTime) {
    EnglishLocale english;
    EXPECT_EQ(formatScanTime({2026, 12, 7, 9, 5, 0}, english), "07-December-2026 09:05");
    EXPECT_EQ(formatScanTime({2026, 3, 17, 14, 30, 59}, english), "17-March-2026 14:30");
}

TEST(Encoding, Cp1252RoundTrip) {
    std::string bytes;
    for (int b = 1; b < 256; ++b) bytes += static_cast<char>(b);
    std::string utf8 = decodeCp1252(bytes);
    std::string back = encodeCp1252(utf8);
    // The five undefined bytes come back as references to their C1 controls.
    EXPECT_EQ(back.size(), bytes.size() + 5 * 5);
    EXPECT_EQ(encodeCp1252(decodeCp1252("\x80\xE4")), "\x80\xE4");
}

}  // namespace
}  // namespace veltrix
