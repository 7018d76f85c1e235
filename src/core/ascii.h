// ASCII letter case and white space, the one home of these small helpers.
// Names the data sources use (classes, properties, namespaces, registry keys)
// and the markers the program looks for are ASCII: folded and trimmed by hand,
// independent of any locale.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace veltrix {

constexpr char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = foldAscii(c);
    return out;
}

inline bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    if (a == b) return true;  // mostly so: one comparison of the whole, not a fold per letter
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
    }
    return true;
}

// Where `needle` first occurs in `haystack`, in any letter case; npos when not.
inline std::size_t findIgnoringCase(std::string_view haystack, std::string_view needle) {
    auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(),
                          [](char a, char b) { return foldAscii(a) == foldAscii(b); });
    return it == haystack.end() ? std::string_view::npos : static_cast<std::size_t>(it - haystack.begin());
}

// Space, tab, line feed, vertical tab, form feed, carriage return.
constexpr bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// `text` without white space at either end.
inline std::string_view trimView(std::string_view text) {
    std::size_t b = 0, e = text.size();
    while (b < e && isBlank(text[b])) ++b;
    while (e > b && isBlank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

}  // namespace veltrix
