#include <string>

#include "wmi/wql/expr.h"

namespace veltrix::wmi::wql {

namespace {

// Code points, ASCII letters folded to lower case, so that '_' matches one
// character of a UTF-8 text rather than one byte.
std::u32string fold(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
        if (i + length > text.size()) length = 1;
        char32_t cp = length == 1 ? c : (c & (0xFF >> (length + 1)));
        for (std::size_t k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        if (cp >= 'A' && cp <= 'Z') cp += 'a' - 'A';
        out.push_back(cp);
        i += length;
    }
    return out;
}

// Index of the ']' closing the set that opens at `open`, or npos. A ']' right
// after "[" or "[^" belongs to the set.
std::size_t setEnd(const std::u32string& p, std::size_t open) {
    std::size_t i = open + 1;
    if (i < p.size() && p[i] == U'^') ++i;
    if (i < p.size() && p[i] == U']') ++i;
    for (; i < p.size(); ++i) {
        if (p[i] == U']') return i;
    }
    return std::u32string::npos;
}

bool inSet(const std::u32string& p, std::size_t open, std::size_t close, char32_t c) {
    std::size_t i = open + 1;
    bool negate = false;
    if (p[i] == U'^' && i + 1 < close) {
        negate = true;
        ++i;
    }
    bool found = false;
    for (; i < close; ++i) {
        if (i + 2 < close && p[i + 1] == U'-') {
            if (c >= p[i] && c <= p[i + 2]) found = true;
            i += 2;
        } else if (p[i] == c) {
            found = true;
        }
    }
    return found != negate;
}

}  // namespace

bool likePatternValid(std::string_view pattern) {
    std::u32string p = fold(pattern);
    for (std::size_t i = 0; i < p.size(); ++i) {
        if (p[i] == U'[') {
            std::size_t close = setEnd(p, i);
            if (close == std::u32string::npos) return false;
            i = close;
        }
    }
    return true;
}

bool likeMatches(std::string_view textIn, std::string_view patternIn) {
    const std::u32string text = fold(textIn);
    const std::u32string p = fold(patternIn);
    constexpr std::size_t npos = std::u32string::npos;
    std::size_t t = 0, pi = 0, starP = npos, starT = 0;
    // Greedy walk that returns to the last % on a mismatch: linear in
    // practice, never exponential.
    while (t < text.size()) {
        if (pi < p.size()) {
            char32_t pc = p[pi];
            if (pc == U'%') {
                starP = ++pi;
                starT = t;
                continue;
            }
            bool match;
            std::size_t next = pi + 1;
            if (pc == U'_') {
                match = true;
            } else if (std::size_t close; pc == U'[' && (close = setEnd(p, pi)) != npos) {
                match = inSet(p, pi, close, text[t]);
                next = close + 1;
            } else {
                match = pc == text[t];
            }
            if (match) {
                pi = next;
                ++t;
                continue;
            }
        }
        if (starP == npos) return false;
        pi = starP;
        t = ++starT;
    }
    while (pi < p.size() && p[pi] == U'%') ++pi;
    return pi == p.size();
}

}  // namespace veltrix::wmi::wql
