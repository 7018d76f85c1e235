// Windows-1252 output: bytes for the characters it has, "&#NNNN;" for every
// other character, so the page reads right in any browser and nothing is lost.
#pragma once

#include <string>
#include <string_view>

namespace veltrix {

std::string encodeCp1252(std::string_view utf8);
// Single-byte Windows-1252 text (a factory file) to UTF-8.
std::string decodeCp1252(std::string_view bytes);

}  // namespace veltrix
