// Paths as the program holds them (UTF-8 text) for std::filesystem and the
// file streams. A narrow string would be read in the ANSI code page on
// Windows, so that "C:\tmp\Größe" would name a folder that does not exist.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace veltrix {

inline std::filesystem::path pathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace veltrix
