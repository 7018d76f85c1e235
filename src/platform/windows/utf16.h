// UTF-8 (the program's own text) to and from UTF-16 (what Win32 and COM take).
#pragma once

#include <string>
#include <string_view>

namespace veltrix::win {

std::wstring toWide(std::string_view utf8);
std::string toUtf8(std::wstring_view wide);

// The system's text for a Win32 error code, without the trailing line end;
// empty when the system has none.
std::string systemMessage(unsigned long code);

}  // namespace veltrix::win
