#include "wmi/wql/lexer.h"

#include <cctype>

namespace veltrix::wmi::wql {

namespace {
bool isIdentStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool isIdentChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }
bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
}  // namespace

Failure syntaxError(std::size_t position, std::string_view expected, std::string_view found) {
    return Failure{failure_code::kInvalidQuery, "Invalid query: at position " + std::to_string(position) +
                                                    " expected " + std::string(expected) + ", found " +
                                                    std::string(found)};
}

Result<std::vector<Token>> tokenize(std::string_view text) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
            continue;
        }
        Token token;
        token.position = i + 1;
        if (isIdentStart(c)) {
            std::size_t start = i;
            while (i < text.size() && isIdentChar(text[i])) ++i;
            token.kind = TokenKind::Identifier;
            token.text = std::string(text.substr(start, i - start));
        } else if (isDigit(c) || (c == '.' && i + 1 < text.size() && isDigit(text[i + 1]))) {
            std::size_t start = i;
            while (i < text.size() && isDigit(text[i])) ++i;
            if (i < text.size() && text[i] == '.') {
                ++i;
                while (i < text.size() && isDigit(text[i])) ++i;
            }
            if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
                std::size_t exponent = i + 1;
                if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
                if (exponent < text.size() && isDigit(text[exponent])) {
                    i = exponent;
                    while (i < text.size() && isDigit(text[i])) ++i;
                }
            }
            if (i < text.size() && isIdentChar(text[i])) {
                return syntaxError(i + 1, "a separator after the number", "'" + std::string(1, text[i]) + "'");
            }
            token.kind = TokenKind::Number;
            token.text = std::string(text.substr(start, i - start));
        } else if (c == '\'' || c == '"') {
            // Backslash escapes the quote and itself; any other backslash is
            // kept as written, so names with backslashes need no escaping.
            const char quote = c;
            ++i;
            bool closed = false;
            while (i < text.size()) {
                char d = text[i];
                if (d == '\\' && i + 1 < text.size() && (text[i + 1] == quote || text[i + 1] == '\\')) {
                    token.text += text[i + 1];
                    i += 2;
                } else if (d == quote) {
                    ++i;
                    closed = true;
                    break;
                } else {
                    token.text += d;
                    ++i;
                }
            }
            if (!closed) return syntaxError(text.size() + 1, std::string("the closing ") + quote, "the end of the query");
            token.kind = TokenKind::String;
        } else {
            token.kind = TokenKind::Symbol;
            std::string_view two = text.substr(i, 2);
            if (two == "<>" || two == "!=" || two == "<=" || two == ">=") {
                token.text = std::string(two);
                i += 2;
            } else if (c == '*' || c == ',' || c == '(' || c == ')' || c == '=' || c == '<' || c == '>' ||
                       c == '-') {
                token.text = std::string(1, c);
                ++i;
            } else {
                return syntaxError(i + 1, "a name, a literal or an operator", "'" + std::string(1, c) + "'");
            }
        }
        tokens.push_back(std::move(token));
    }
    Token end;
    end.kind = TokenKind::End;
    end.position = text.size() + 1;
    tokens.push_back(end);
    return tokens;
}

}  // namespace veltrix::wmi::wql
