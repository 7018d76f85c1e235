// Splits a WQL text into tokens, each with its 1-based position.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace veltrix::wmi::wql {

enum class TokenKind { Identifier, String, Number, Symbol, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;      // identifier as written, string contents unescaped, number digits, symbol
    std::size_t position = 0;  // 1-based
};

Result<std::vector<Token>> tokenize(std::string_view text);

// The failure for a query that cannot be read.
Failure syntaxError(std::size_t position, std::string_view expected, std::string_view found);

}  // namespace veltrix::wmi::wql
