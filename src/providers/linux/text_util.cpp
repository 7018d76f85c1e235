#include "providers/linux/text_util.h"

#include <cctype>
#include <cstdio>

#include "report/encoding.h"

namespace veltrix::linux_provider {

std::string trim(std::string_view text) { return std::string(trimView(text)); }

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::string toUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string toLower(std::string_view text) {
    std::string out(text);
    // ASCII only, as the C locale the program runs in would; without a
    // library call per character, as registry paths are lowered often.
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::optional<std::uint64_t> parseHex(std::string_view text) {
    std::string t = trim(text);
    std::string_view v = t;
    if (startsWith(v, "0x") || startsWith(v, "0X")) v.remove_prefix(2);
    if (v.empty() || v.size() > 16) return std::nullopt;
    std::uint64_t out = 0;
    for (char c : v) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return std::nullopt;
        out = out * 16 + static_cast<std::uint64_t>(d);
    }
    return out;
}

std::optional<std::uint64_t> parseDecimal(std::string_view text) {
    std::string t = trim(text);
    if (t.empty() || t.size() > 19) return std::nullopt;
    std::uint64_t out = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return std::nullopt;
        out = out * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return out;
}

std::map<std::string, std::string> parseKeyValues(std::string_view text) {
    std::map<std::string, std::string> out;
    for (std::string_view line : splitLines(text)) {
        std::string l = trim(line);
        if (l.empty() || l[0] == '#') continue;
        std::size_t eq = l.find('=');
        if (eq == std::string::npos || eq == 0) continue;
        std::string key = trim(std::string_view(l).substr(0, eq));
        std::string value = trim(std::string_view(l).substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        out[key] = value;
    }
    return out;
}

namespace {
bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        std::uint32_t cp;
        if (b >= 0xC2 && b <= 0xDF) length = 2, cp = b & 0x1F;
        else if (b >= 0xE0 && b <= 0xEF) length = 3, cp = b & 0x0F;
        else if (b >= 0xF0 && b <= 0xF4) length = 4, cp = b & 0x07;
        else return false;
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not text.
        if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}
}  // namespace

std::string utf8OrCp1252(std::string text) {
    return isValidUtf8(text) ? std::move(text) : decodeCp1252(text);
}

std::string hex(std::uint64_t value, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*llX", width, static_cast<unsigned long long>(value));
    return buf;
}

}  // namespace veltrix::linux_provider
