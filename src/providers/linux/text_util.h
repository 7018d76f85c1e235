// Small text helpers for the plain-text formats the kernel and the package
// tools write: key=value files, hex fields, whitespace.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ascii.h"

namespace veltrix::linux_provider {

// The C locale's white space, without a call into the library per letter:
// the parsers pass over every byte of the package database and the id lists.
using veltrix::isBlank;
using veltrix::trimView;

std::string trim(std::string_view text);
std::vector<std::string_view> splitLines(std::string_view text);
// Walks a text line by line without copying; a trailing '\r' is dropped.
class LineCursor {
public:
    explicit LineCursor(std::string_view text, std::size_t from = 0) : text_(text), pos_(from) {}
    // The next line, or false at the end of the text.
    bool next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        std::size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) end = text_.size();
        line = std::string_view(text_.data() + pos_, end - pos_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos_ = end + 1;
        return true;
    }
    // Where the line after the one just returned starts.
    std::size_t position() const { return pos_; }

private:
    std::string_view text_;
    std::size_t pos_;
};

bool startsWith(std::string_view text, std::string_view prefix);
std::string toUpper(std::string_view text);
std::string toLower(std::string_view text);

// "0x8086", "8086" -> 0x8086; nullopt when not hex.
std::optional<std::uint64_t> parseHex(std::string_view text);
std::optional<std::uint64_t> parseDecimal(std::string_view text);

// KEY=VALUE lines (os-release, uevent, /etc/default/*); values lose one pair
// of surrounding quotes. Later keys win.
std::map<std::string, std::string> parseKeyValues(std::string_view text);

// Text as a file or firmware gives it, as UTF-8: kept when it is valid
// UTF-8, else taken as Windows-1252, the code page of old firmware strings
// (which would otherwise turn into replacement characters).
std::string utf8OrCp1252(std::string text);

// "%04X"-style formatting without printf at every call site.
std::string hex(std::uint64_t value, int width);

}  // namespace veltrix::linux_provider
