#include "core/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace veltrix {
namespace {

// The C runtime's rules for reading one argument back (the inverse the
// quoting must meet): 2n backslashes before a quote are n and the quote
// toggles; 2n+1 are n and a literal quote; other backslashes are literal.
std::vector<std::wstring> splitLikeTheRuntime(const std::wstring& line) {
    std::vector<std::wstring> arguments;
    std::wstring current;
    bool inQuotes = false, any = false;
    for (std::size_t i = 0; i < line.size();) {
        const wchar_t c = line[i];
        if ((c == L' ' || c == L'\t') && !inQuotes) {
            if (any) arguments.push_back(current);
            current.clear();
            any = false;
            ++i;
            continue;
        }
        any = true;
        if (c == L'\\') {
            std::size_t n = 0;
            while (i < line.size() && line[i] == L'\\') ++n, ++i;
            if (i < line.size() && line[i] == L'"') {
                current.append(n / 2, L'\\');
                if (n % 2) {
                    current += L'"';
                    ++i;
                }
            } else {
                current.append(n, L'\\');
            }
            continue;
        }
        if (c == L'"') {
            inQuotes = !inQuotes;
            ++i;
            continue;
        }
        current += c;
        ++i;
    }
    if (any) arguments.push_back(current);
    return arguments;
}

TEST(CommandLine, EveryArgumentIsReadBackAsItWasGiven) {
    const std::vector<std::wstring> arguments{
        L"plain", L"", L"C:\\Program Files\\Veltrix\\veltrix.com", L"ends in a backslash\\",
        L"C:\\folder\\", L"say \"hi\"", L"\\\"", L"tab\there", L"D:\\Ablage\\M\u00FCller & S\u00F6hne\\",
        L"\\\\server\\share\\"};
    std::wstring line;
    for (const auto& argument : arguments) line += (line.empty() ? L"" : L" ") + QuoteCommandLineArgument(argument);
    EXPECT_EQ(splitLikeTheRuntime(line), arguments);
    // What needs no quotes keeps none, so the usual line reads as typed.
    EXPECT_EQ(QuoteCommandLineArgument(L"C:\\folder\\"), L"C:\\folder\\");
    EXPECT_EQ(QuoteCommandLineArgument(L"a b\\"), L"\"a b\\\\\"");
}

}  // namespace
}  // namespace veltrix
