#include "report/encoding.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace veltrix {

namespace {

// Code points of the bytes 0x80..0x9F; 0 where Windows-1252 has no character.
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Decodes one UTF-8 sequence at `i`; an invalid byte reads as U+FFFD and
// advances by one, so nothing is dropped silently.
char32_t nextCodePoint(std::string_view s, std::size_t& i) {
    auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    std::uint8_t b0 = byte(i);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int length = 0;
    char32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) {
        length = 2;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4;
        cp = b0 & 0x07;
    } else {
        ++i;
        return 0xFFFD;
    }
    if (i + length > s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (int k = 1; k < length; ++k) {
        std::uint8_t b = byte(i + k);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return 0xFFFD;
    }
    i += length;
    return cp;
}

int cp1252Byte(char32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
    for (std::size_t k = 0; k < kHighControls.size(); ++k) {
        if (kHighControls[k] == cp && cp != 0) return static_cast<int>(0x80 + k);
    }
    return -1;
}


}  // namespace

std::string encodeCp1252(std::string_view utf8) {
    std::string out;
    appendCp1252(out, utf8);
    return out;
}

namespace {
// Where the ASCII run starting at `from` ends; looked through eight bytes at
// a time, none with its top bit.
std::size_t asciiRunEnd(std::string_view text, std::size_t from) {
    std::size_t run = from;
    for (std::uint64_t word; run + 8 <= text.size(); run += 8) {
        std::memcpy(&word, text.data() + run, 8);
        if (word & 0x8080808080808080ull) break;
    }
    while (run < text.size() && static_cast<unsigned char>(text[run]) < 0x80) ++run;
    return run;
}
}  // namespace

bool isAscii(std::string_view text) { return asciiRunEnd(text, 0) == text.size(); }

void appendCp1252(std::string& out, std::string_view utf8) {
    out.reserve(out.size() + utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        // Plain ASCII runs are copied whole: most of a report is markup.
        const std::size_t run = asciiRunEnd(utf8, i);
        out.append(utf8, i, run - i);
        i = run;
        if (i == utf8.size()) break;
        char32_t cp = nextCodePoint(utf8, i);
        int b = cp1252Byte(cp);
        if (b >= 0) {
            out += static_cast<char>(b);
        } else {
            out += "&#";
            out += std::to_string(static_cast<std::uint32_t>(cp));
            out += ';';
        }
    }
}

std::string replaceInvalidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t start = i;
        const char32_t cp = nextCodePoint(text, i);
        if (cp == 0xFFFD && i - start == 1) {  // an invalid byte; a real U+FFFD takes three
            appendUtf8(out, cp);
        } else {
            out.append(text, start, i - start);
        }
    }
    return out;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string decodeCp1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        auto b = static_cast<std::uint8_t>(ch);
        if (b < 0x80 || b >= 0xA0) {
            appendUtf8(out, b);
        } else {
            char32_t cp = kHighControls[b - 0x80];
            // The five bytes Windows-1252 leaves undefined map to the C1
            // controls of the same value, as the system's own conversion does.
            appendUtf8(out, cp ? cp : b);
        }
    }
    return out;
}

}  // namespace veltrix
