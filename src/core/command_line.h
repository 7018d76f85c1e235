// One argument of a Windows command line, written so that the C runtime's
// splitting gives it back unchanged: the started program sees exactly the
// path or value it was handed, blanks, quotes and trailing backslashes too.
#pragma once

#include <string>

namespace veltrix {

inline std::wstring QuoteCommandLineArgument(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quote: doubled there, and the quote escaped.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    // Before the closing quote, the same.
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

}  // namespace veltrix
