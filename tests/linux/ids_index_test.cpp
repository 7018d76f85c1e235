#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "providers/linux/id_lists.h"
#include "providers/linux/line_scan.h"
#include "providers/linux/text_util.h"

using namespace veltrix::linux_provider;

TEST(IdsDatabase, HeadingsAnywhereInALongListWhateverTheLineEnds) {
    // Headings at every offset within the blocks the indexer reads at once,
    // the last one without a line end.
    for (const std::string eol : {"\n", "\r\n"}) {
        std::string text = "# list" + eol;
        for (int v = 1; v <= 40; ++v) {
            (text += hex(0x1000 + v, 4)) += "  Vendor ";  // appended: GCC 12 warns falsely on "text" + to_string
            (text += std::to_string(v)) += eol;
            for (int d = 0; d < v % 4; ++d) ((((text += '\t') += hex(d, 4)) += "  Device") += std::string(d, 'x')) += eol;
            if (v % 7 == 0) text += eol + "#" + std::string(v % 5, 'c') + eol;
        }
        text += "C 03  Display controller";
        IdsDatabase ids("");
        ids.parse(text);
        for (int v = 1; v <= 40; ++v) {
            EXPECT_EQ(ids.vendor(static_cast<std::uint16_t>(0x1000 + v)), "Vendor " + std::to_string(v)) << v;
            if (v % 4 == 3) {
                EXPECT_EQ(ids.device(static_cast<std::uint16_t>(0x1000 + v), 2), std::optional<std::string>("Devicexx"));
            }
        }
        EXPECT_FALSE(ids.vendor(0x1000).has_value());
        EXPECT_FALSE(ids.vendor(0x0002).has_value());  // a device id, not a heading
        EXPECT_EQ(ids.className(0x03), std::optional<std::string>("Display controller"));
    }
}

TEST(IdsDatabase, EveryEntryOfALongBlockInOrderOrNot) {
    // Entries with subsystems, comments and blank lines between them; the
    // same block in id order and reversed, an id listed twice in a row.
    for (const bool inOrder : {true, false}) {
        std::vector<std::string> entries;
        for (int d = 0; d < 300; ++d) {
            std::string entry = std::string("\t") + hex(d * 3, 4) + std::string("  Device ") + std::to_string(d) + "\n";
            for (int s = 0; s < d % 4; ++s) entry += "\t\t1000 " + hex(s, 4) + "  Subsystem\n";
            if (d % 50 == 7) entry += "# note\n\n";
            if (d == 150) entry += std::string("\t") + hex(d * 3, 4) + "  Later\n";
            entries.push_back(entry);
        }
        if (!inOrder) std::reverse(entries.begin(), entries.end());
        std::string text = "0fff  Before\n\t0003  Not this one\n1000  Vendor\n";
        for (const std::string& e : entries) text += e;
        text += "1001  After\n\t0003  Nor this one\n";
        IdsDatabase ids("");
        ids.parse(text);
        for (int round = 0; round < 2; ++round) {  // a miss must not spoil later lookups
            for (int d = 0; d < 300; ++d) {
                const auto id = static_cast<std::uint16_t>(d * 3);
                EXPECT_EQ(ids.device(0x1000, id), d == 150 ? "Later" : "Device " + std::to_string(d)) << d;
                EXPECT_FALSE(ids.device(0x1000, static_cast<std::uint16_t>(id + 1)).has_value()) << d;
            }
            EXPECT_FALSE(ids.device(0x1000, 0x1000).has_value());  // a subsystem's id, not an entry
            EXPECT_FALSE(ids.device(0x1000, 0xFFFF).has_value());
        }
    }
}

TEST(IdsDatabase, HeadingsAcrossManyPagesOfTheList) {
    // Enough vendors for the list to span pages of the index's scan, with
    // comment lines of every length so that headings fall at every offset,
    // page edges included.
    std::string text;
    for (int v = 0; v < 1500; ++v) {
        (text += hex(0x2000 + v, 4)) += "  Vendor ";
        (text += std::to_string(v)) += '\n';
        (((text += '\t') += hex(v % 7, 4)) += "  Device ") += std::to_string(v) += '\n';
        if (v % 3 == 0) (text += '#') += std::string(v % 61, 'c') += '\n';
    }
    IdsDatabase ids("");
    ids.parse(text);
    ASSERT_GT(text.size(), 8u * 4096);
    for (int v = 0; v < 1500; ++v) {
        const auto id = static_cast<std::uint16_t>(0x2000 + v);
        EXPECT_EQ(ids.vendor(id), "Vendor " + std::to_string(v)) << v;
        EXPECT_EQ(ids.device(id, static_cast<std::uint16_t>(v % 7)), "Device " + std::to_string(v)) << v;
    }
}

TEST(IdsDatabase, AnIdOutOfOrderIsFoundInAnyLetterCaseAndOnlyAsAnEntry) {
    // A long block whose last entries break its order, so that only reading
    // the block finds them; near misses that share the id's letters (a
    // control byte where a digit is, no blank after the id, a subsystem line)
    // before and after, in the vector-scanned part and in the tail.
    const std::string decoys = "\t\x10" "d5a  Control byte\n\t0d5aX  No blank\n\t\t0d5a 0001  Subsystem\n";
    std::string text = "1000  Vendor\n" + decoys;
    for (int d = 0; d < 400; ++d) ((text += '\t') += hex(0x1000 + d, 4)) += "  Device filler\n";
    text += "\t0D5A  Upper case\n" + decoys + "\t0abc  Lower\n";
    text += "1001  Next\n\t0d5a  Not this vendor's\n";
    IdsDatabase ids("");
    ids.parse(text);
    ASSERT_GT(text.size(), 2u * 4096);
    EXPECT_EQ(ids.device(0x1000, 0x0d5a), std::optional<std::string>("Upper case"));
    EXPECT_EQ(ids.device(0x1000, 0x0ABC), std::optional<std::string>("Lower"));
    EXPECT_EQ(ids.device(0x1000, 0x1005), std::optional<std::string>("Device filler"));
    EXPECT_FALSE(ids.device(0x1000, 0x0d5b).has_value());
    EXPECT_FALSE(ids.device(0x1000, 0x1d5a).has_value());
    EXPECT_FALSE(ids.device(0x1000, 0x0001).has_value());  // only a subsystem's
}

#ifdef VELTRIX_LINE_SCAN_AVX2
TEST(LineOpenings, EveryVectorWidthFindsTheSameLines) {
    // Lines of every length opening with a tab, two tabs or neither, as the
    // 32- and 64-byte collectors see them; each must find exactly the starts
    // a byte-by-byte reading does.
    std::string text;
    for (int n = 0; text.size() < 3 * 4096; ++n) {
        text += std::string(n % 3, '\t') + std::string(n % 71, static_cast<char>('a' + n % 26)) + '\n';
        if (n % 11 == 0) text += '\n';
    }
    using namespace veltrix::linux_provider::line_scan_detail;
    using veltrix::linux_provider::LineOpening;
    auto check = [&](auto kind, auto collect32, auto collect64) {
        constexpr std::size_t kPage = 4096;
        std::vector<std::uint32_t> expected;
        for (std::size_t i = 0; i < kPage; ++i)
            if (text[i] == '\n' && opensAs<decltype(kind)::value>(text, i + 1)) expected.push_back(static_cast<std::uint32_t>(i + 1));
        std::vector<std::uint32_t> got(kPage);
        if (__builtin_cpu_supports("avx2")) {
            got.resize(collect32(text.data(), 0, kPage, got.data()));
            EXPECT_EQ(got, expected) << "32 bytes, kind " << static_cast<int>(decltype(kind)::value);
        }
        got.assign(kPage, 0);
        if (__builtin_cpu_supports("avx512bw")) {
            got.resize(collect64(text.data(), 0, kPage, got.data()));
            EXPECT_EQ(got, expected) << "64 bytes, kind " << static_cast<int>(decltype(kind)::value);
        }
    };
    check(std::integral_constant<LineOpening, LineOpening::Any>{}, startsAvx2<LineOpening::Any>,
          startsAvx512<LineOpening::Any>);
    check(std::integral_constant<LineOpening, LineOpening::Untabbed>{}, startsAvx2<LineOpening::Untabbed>,
          startsAvx512<LineOpening::Untabbed>);
    check(std::integral_constant<LineOpening, LineOpening::OneTab>{}, startsAvx2<LineOpening::OneTab>,
          startsAvx512<LineOpening::OneTab>);
}
#endif

#ifdef VELTRIX_LINE_SCAN_AVX2
TEST(IdLines, EveryVectorWidthFindsTheLinesAByteByByteReadingDoes) {
    // Entries, subsystems and near misses of the ids looked for (other
    // letter case, one digit off, no tab, two tabs) at every offset of the
    // vectors, over more than a page; from a start inside the text too.
    std::string text;
    const char* const lines[] = {"\t0d57  A",        "\t0D57  Upper", "\t0d58  Off",       "\t0d67  Off",
                                 "\t1d57  Off",       "0d57  Heading", "\t\t0d57 0001  Sub", "\t0c  Class",
                                 "\t0C  Upper class", "\t0d  Off class", "#\t0d57"};
    for (int n = 0; text.size() < 3 * 4096; ++n)
        text += std::string(n % 37, 'x') + "\n" + lines[n % std::size(lines)] + "\n";
    using namespace id_lists_detail;
    for (const IdLinePattern& pattern : {IdLinePattern(0x0d57, kVendorDigits), IdLinePattern(0x0c, kClassDigits)}) {
        for (std::size_t from : {std::size_t{0}, std::size_t{4096 + 17}}) {
            const std::size_t to = from + 4096;
            std::vector<std::uint32_t> expected;
            for (std::size_t i = from; i < to; ++i) {
                bool match = true;
                for (std::size_t k = 0; k < pattern.length; ++k)
                    match = match && (k >= 2 ? static_cast<char>(text[i + k] | 0x20) : text[i + k]) == pattern.bytes[k];
                if (match) expected.push_back(static_cast<std::uint32_t>(i - from + 1));
            }
            ASSERT_GT(expected.size(), 20u);
            std::vector<std::uint32_t> got(4096);
            if (__builtin_cpu_supports("avx2")) {
                got.resize(idLineStartsAvx2(text.data(), from, to, pattern, got.data()));
                EXPECT_EQ(got, expected) << "32 bytes, " << pattern.length << " bytes from " << from;
            }
            got.assign(4096, 0);
            if (__builtin_cpu_supports("avx512bw")) {
                got.resize(idLineStartsAvx512(text.data(), from, to, pattern, got.data()));
                EXPECT_EQ(got, expected) << "64 bytes, " << pattern.length << " bytes from " << from;
            }
        }
    }
}
#endif
