#include "providers/snapshot/json_position.h"

#include <algorithm>
#include <limits>

namespace veltrix::snapshot {

namespace {

class Scanner {
public:
    explicit Scanner(std::string_view text) : s_(text) {}

    std::size_t at() const { return i_; }
    char peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
    void advance() { ++i_; }

    void whitespace() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
    }

    void string() {
        ++i_;
        while (i_ < s_.size() && s_[i_] != '"') i_ += s_[i_] == '\\' ? 2 : 1;
        ++i_;
    }

    // Skips "key" : and the whitespace before the value.
    void key() {
        whitespace();
        if (keysSeen_++ == keyTarget_) keyFound_ = i_;
        string();
        whitespace();
        ++i_;  // ':'
        whitespace();
    }

    void value() {
        whitespace();
        char c = peek();
        if (c == '{' || c == '[') {
            const char close = c == '{' ? '}' : ']';
            ++i_;
            whitespace();
            if (peek() == close) {
                ++i_;
                return;
            }
            while (i_ < s_.size()) {
                if (c == '{') key();
                value();
                whitespace();
                if (peek() == ',') {
                    ++i_;
                    continue;
                }
                ++i_;  // the closing bracket
                return;
            }
        } else if (c == '"') {
            string();
        } else {
            while (i_ < s_.size() && std::string_view(",]} \t\r\n").find(s_[i_]) == std::string_view::npos) ++i_;
        }
    }

    // Skips whitespace and the separating comma between members or elements.
    void separator() {
        whitespace();
        if (peek() == ',') ++i_;
        whitespace();
    }

    std::size_t keyTarget_ = std::numeric_limits<std::size_t>::max();
    std::size_t keysSeen_ = 0;
    std::size_t keyFound_ = std::numeric_limits<std::size_t>::max();

private:
    std::string_view s_;
    std::size_t i_ = 0;
};

}  // namespace

std::size_t offsetOfPath(std::string_view text, const std::vector<std::size_t>& path, bool keyOfLast) {
    Scanner scan(text);
    scan.whitespace();
    for (std::size_t step = 0; step < path.size(); ++step) {
        const bool isObject = scan.peek() == '{';
        if (!isObject && scan.peek() != '[') break;
        scan.advance();
        scan.whitespace();
        for (std::size_t k = 0; k < path[step]; ++k) {
            if (isObject) scan.key();
            scan.value();
            scan.separator();
        }
        if (isObject) {
            if (keyOfLast && step + 1 == path.size()) return scan.at();
            scan.key();
        }
        scan.whitespace();
    }
    return scan.at();
}

std::size_t offsetOfNthKey(std::string_view text, std::size_t n) {
    Scanner scan(text);
    scan.keyTarget_ = n;
    scan.value();
    return std::min(scan.keyFound_, text.size());
}

TextPosition positionOf(std::string_view text, std::size_t offset) {
    TextPosition p;
    offset = std::min(offset, text.size());
    for (std::size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++p.line;
            p.column = 1;
        } else {
            ++p.column;
        }
    }
    return p;
}

}  // namespace veltrix::snapshot
