// The characters a report name may not hold: a file name cannot carry them,
// and none may lead the report out of its folder.
#pragma once

#include <optional>
#include <string_view>

namespace veltrix {

inline constexpr std::string_view kRefusedNameCharacters = "\"\\/:*?<>| ";

// Control characters (a line break, a NUL) would split the title line or cut
// the file name short.
inline bool isControlCharacter(char32_t c) { return c < 0x20 || c == 0x7F; }

inline bool isRefusedNameCharacter(char c) {
    return isControlCharacter(static_cast<unsigned char>(c)) ||
           kRefusedNameCharacters.find(c) != std::string_view::npos;
}

// The first refused character of `name`, if any.
inline std::optional<char> firstRefusedNameCharacter(std::string_view name) {
    for (char c : name) {
        if (isRefusedNameCharacter(c)) return c;
    }
    return std::nullopt;
}

}  // namespace veltrix
