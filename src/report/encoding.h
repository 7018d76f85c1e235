// Windows-1252 output: bytes for the characters it has, "&#NNNN;" for every
// other character, so the page reads right in any browser and nothing is lost.
#pragma once

#include <string>
#include <string_view>

namespace veltrix {

std::string encodeCp1252(std::string_view utf8);
// The same, appended to `out`: a writer that keeps one buffer for every line
// saves an allocation and a copy per line.
void appendCp1252(std::string& out, std::string_view utf8);
// Whether every byte is ASCII, which both encodings write alike.
bool isAscii(std::string_view text);
// Text as encodeCp1252 reads it: each byte that is not part of a valid UTF-8
// sequence becomes U+FFFD, so text kept elsewhere (a snapshot) shows the
// same characters as the report.
std::string replaceInvalidUtf8(std::string_view text);
// Appends one code point as UTF-8.
void appendUtf8(std::string& out, char32_t cp);
// Single-byte Windows-1252 text (a factory file) to UTF-8.
std::string decodeCp1252(std::string_view bytes);

}  // namespace veltrix
