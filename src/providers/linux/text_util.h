// Small text helpers for the plain-text formats the kernel and the package
// tools write: key=value files, hex fields, whitespace.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrix::linux_provider {

std::string trim(std::string_view text);
std::vector<std::string_view> splitLines(std::string_view text);
bool startsWith(std::string_view text, std::string_view prefix);
std::string toUpper(std::string_view text);
std::string toLower(std::string_view text);

// "0x8086", "8086" -> 0x8086; nullopt when not hex.
std::optional<std::uint64_t> parseHex(std::string_view text);
std::optional<std::uint64_t> parseDecimal(std::string_view text);

// KEY=VALUE lines (os-release, uevent, /etc/default/*); values lose one pair
// of surrounding quotes. Later keys win.
std::map<std::string, std::string> parseKeyValues(std::string_view text);

// "%04X"-style formatting without printf at every call site.
std::string hex(std::uint64_t value, int width);

}  // namespace veltrix::linux_provider
