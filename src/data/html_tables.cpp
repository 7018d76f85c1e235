#include "data/html_tables.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <utility>

#include "report/encoding.h"

namespace veltrix::data::html {

namespace {

// The named references a page of ours or a browser's re-save may hold: the
// markup characters, the umlauts of the comment, the Latin-1 signs browsers
// like to name.
struct NamedReference {
    std::string_view name;
    char32_t cp;
};
constexpr std::array<NamedReference, 20> kNamed = {{
    {"amp", '&'},     {"lt", '<'},      {"gt", '>'},      {"quot", '"'},    {"apos", '\''},
    {"auml", 0xE4},   {"ouml", 0xF6},   {"uuml", 0xFC},   {"Auml", 0xC4},   {"Ouml", 0xD6},
    {"Uuml", 0xDC},   {"szlig", 0xDF},  {"copy", 0xA9},   {"reg", 0xAE},    {"deg", 0xB0},
    {"euro", 0x20AC}, {"trade", 0x2122}, {"shy", 0xAD},   {"micro", 0xB5},  {"sect", 0xA7},
}};

// Decodes the reference starting at text[i] == '&'; returns the characters it
// took, 0 when it is no reference (the '&' then stays as it is).
std::size_t decodeReference(std::string_view text, std::size_t i, std::string& out) {
    // The longest reference is 12 characters: the search stops there, so a
    // text of ampersands without a semicolon costs what it weighs.
    constexpr std::size_t kLongestReference = 12;
    std::size_t semicolon = text.substr(i + 1, kLongestReference).find(';');
    if (semicolon == std::string_view::npos) return 0;
    semicolon += i + 1;
    std::string_view body = text.substr(i + 1, semicolon - i - 1);
    if (body.empty()) return 0;
    if (body == "nbsp") return semicolon - i + 1;  // dropped: it only pads cells
    if (body[0] == '#') {
        bool hex = body.size() > 1 && (body[1] == 'x' || body[1] == 'X');
        std::string_view digits = body.substr(hex ? 2 : 1);
        if (digits.empty()) return 0;
        std::uint32_t cp = 0;
        for (char c : digits) {
            int d;
            if (c >= '0' && c <= '9') {
                d = c - '0';
            } else if (hex && std::isxdigit(static_cast<unsigned char>(c))) {
                d = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
            } else {
                return 0;
            }
            cp = cp * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
            if (cp > 0x10FFFF) cp = 0x110000;  // stays out of range, no overflow
        }
        if (cp == 0xA0) return semicolon - i + 1;
        if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
        appendUtf8(out, cp);
        return semicolon - i + 1;
    }
    for (const NamedReference& named : kNamed) {
        if (named.name == body) {
            appendUtf8(out, named.cp);
            return semicolon - i + 1;
        }
    }
    return 0;
}

// ASCII only, and without the C library's locale lookup on every character.
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == ':';
}

// Case-insensitive search for `needle` (lower case) from `from`.
std::size_t findNoCase(std::string_view text, std::string_view needle, std::size_t from) {
    if (from > text.size()) return std::string_view::npos;
    auto hit = std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), needle.begin(), needle.end(),
                           [](char a, char b) { return lower(a) == b; });
    return hit == text.end() ? std::string_view::npos : static_cast<std::size_t>(hit - text.begin());
}

struct Tag {
    std::string name;  // lower case
    bool end = false;
    std::string width, bgcolor;
};

// Reads the tag that starts at text[i] == '<'; returns the position after '>',
// or npos when the tag is never closed.
std::size_t readTag(std::string_view text, std::size_t i, Tag& tag) {
    std::size_t p = i + 1;
    if (p < text.size() && text[p] == '/') {
        tag.end = true;
        ++p;
    }
    while (p < text.size() && isNameChar(text[p])) tag.name += lower(text[p++]);
    while (p < text.size()) {
        char c = text[p];
        if (c == '>') return p + 1;
        if (isSpace(c) || c == '/') {
            ++p;
            continue;
        }
        std::string attribute;
        while (p < text.size() && !isSpace(text[p]) && text[p] != '=' && text[p] != '>' && text[p] != '/') {
            attribute += lower(text[p++]);
        }
        while (p < text.size() && isSpace(text[p])) ++p;
        std::string value;
        if (p < text.size() && text[p] == '=') {
            ++p;
            while (p < text.size() && isSpace(text[p])) ++p;
            if (p < text.size() && (text[p] == '\'' || text[p] == '"')) {
                char quote = text[p++];
                std::size_t close = text.find(quote, p);
                if (close == std::string_view::npos) return std::string_view::npos;
                value.assign(text.substr(p, close - p));
                p = close + 1;
            } else {
                while (p < text.size() && !isSpace(text[p]) && text[p] != '>') value += text[p++];
            }
        }
        if (attribute.empty()) {
            ++p;  // a stray character: skip it so the loop always moves on
            continue;
        }
        std::transform(value.begin(), value.end(), value.begin(), lower);
        if (attribute == "width") tag.width = value;
        if (attribute == "bgcolor") tag.bgcolor = value;
    }
    return std::string_view::npos;
}

enum class Kind { Table, Row, Cell };

struct Open {
    Kind kind;
    std::size_t table;
};

class Builder {
public:
    Builder(Document& doc, const Limits& limits) : doc_(doc), limits_(limits) {}

    Status tag(const Tag& tag) {
        if (tag.name == "table") return tag.end ? closeTable() : openTable();
        if (tag.name == "tr") {
            if (tag.end) {
                popTo(Kind::Row);
                return {};
            }
            return openRow();
        }
        if (tag.name == "td" || tag.name == "th") {
            if (tag.end) {
                popTo(Kind::Cell);
                return {};
            }
            return openCell(tag);
        }
        if (!tag.end && (tag.name == "br" || tag.name == "p")) text("\n", false);
        return {};
    }

    void text(std::string_view raw, bool decode = true) {
        Cell* cell = currentCell();
        if (!cell) return;
        if (decode) {
            AppendDecoded(raw, cell->text);
        } else {
            cell->text += raw;
        }
    }

private:
    Status count() {
        if (++elements_ > limits_.maxElements) {
            return Failure{failure_code::kInvalidArgument, "the page holds more than " +
                                                               std::to_string(limits_.maxElements) +
                                                               " table elements"};
        }
        return {};
    }

    // The innermost open table, or npos.
    std::size_t tableIndex() const {
        for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
            if (it->kind == Kind::Table) return it->table;
        }
        return std::string::npos;
    }

    Cell* currentCell() {
        if (stack_.empty() || stack_.back().kind != Kind::Cell) return nullptr;
        Table& t = doc_.tables[stack_.back().table];
        return &t.rows.back().cells.back();
    }

    // Closes open elements down to and including the innermost `kind`, but
    // never past the innermost table (for rows and cells).
    void popTo(Kind kind) {
        for (std::size_t k = stack_.size(); k-- > 0;) {
            if (stack_[k].kind == kind) {
                stack_.resize(k);
                return;
            }
            if (stack_[k].kind == Kind::Table) return;
        }
    }

    Status openTable() {
        if (auto s = count(); !s.ok()) return s;
        if (depth_ >= limits_.maxTableDepth) {
            return Failure{failure_code::kInvalidArgument,
                           "tables are nested deeper than " + std::to_string(limits_.maxTableDepth)};
        }
        // The parent cell lives in `tables`: note the new index in it before
        // the vector grows.
        const std::size_t index = doc_.tables.size();
        Cell* parent = currentCell();
        if (parent) parent->tables.push_back(index);
        const bool nested = parent != nullptr;
        doc_.tables.emplace_back();
        doc_.tables.back().nested = nested;
        stack_.push_back({Kind::Table, doc_.tables.size() - 1});
        ++depth_;
        return {};
    }

    Status closeTable() {
        for (std::size_t k = stack_.size(); k-- > 0;) {
            if (stack_[k].kind == Kind::Table) {
                stack_.resize(k);
                --depth_;
                return {};
            }
        }
        return {};  // a stray end tag: browsers ignore it too
    }

    Status openRow() {
        std::size_t t = tableIndex();
        if (t == std::string::npos) return {};
        if (auto s = count(); !s.ok()) return s;
        while (stack_.back().kind != Kind::Table) stack_.pop_back();
        doc_.tables[t].rows.emplace_back();
        stack_.push_back({Kind::Row, t});
        return {};
    }

    Status openCell(const Tag& tag) {
        std::size_t t = tableIndex();
        if (t == std::string::npos) return {};
        if (stack_.back().kind == Kind::Cell) stack_.pop_back();
        if (stack_.back().kind == Kind::Table) {
            if (auto s = openRow(); !s.ok()) return s;  // a cell without a row gets one
        }
        if (auto s = count(); !s.ok()) return s;
        Cell cell;
        cell.width = tag.width;
        cell.bgcolor = tag.bgcolor;
        doc_.tables[t].rows.back().cells.push_back(std::move(cell));
        stack_.push_back({Kind::Cell, t});
        return {};
    }

    Document& doc_;
    const Limits& limits_;
    std::vector<Open> stack_;
    std::size_t depth_ = 0;
    std::size_t elements_ = 0;
};

}  // namespace

void AppendDecoded(std::string_view text, std::string& out) {
    for (std::size_t i = 0; i < text.size();) {
        char c = text[i];
        if (c == '&') {
            if (std::size_t taken = decodeReference(text, i, out)) {
                i += taken;
                continue;
            }
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            ++i;  // CR LF inside a cell is one line break
            continue;
        } else if (static_cast<unsigned char>(c) == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) == 0xA0) {
            i += 2;  // the no-break space itself, as a browser's re-save writes it
            continue;
        }
        out += c;
        ++i;
    }
}

Result<Document> ReadTables(std::string_view text, const Limits& limits) {
    Document doc;
    Builder builder(doc, limits);
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t lt = text.find('<', i);
        if (lt == std::string_view::npos) {
            builder.text(text.substr(i));
            break;
        }
        if (lt > i) builder.text(text.substr(i, lt - i));
        i = lt;
        if (text.compare(i, 4, "<!--") == 0) {
            std::size_t end = text.find("-->", i + 4);
            if (end == std::string_view::npos) break;  // a comment that never ends: the page is cut
            i = end + 3;
            continue;
        }
        if (i + 1 < text.size() && (text[i + 1] == '!' || text[i + 1] == '?')) {
            std::size_t end = text.find('>', i);
            if (end == std::string_view::npos) break;
            i = end + 1;
            continue;
        }
        bool tagStart = i + 1 < text.size() &&
                        (std::isalpha(static_cast<unsigned char>(text[i + 1])) ||
                         (text[i + 1] == '/' && i + 2 < text.size() &&
                          std::isalpha(static_cast<unsigned char>(text[i + 2]))));
        if (!tagStart) {
            builder.text("<", false);
            ++i;
            continue;
        }
        Tag tag;
        std::size_t after = readTag(text, i, tag);
        if (after == std::string_view::npos) break;  // a tag cut off: the page ends here
        i = after;
        if (tag.end && (tag.name == "html" || tag.name == "body")) doc.complete = true;
        if (!tag.end && (tag.name == "title" || tag.name == "style" || tag.name == "script")) {
            // Their content is text up to their own end tag, whatever it holds.
            std::string close = "</" + tag.name;
            std::size_t end = findNoCase(text, close, i);
            if (end == std::string_view::npos) break;
            if (tag.name == "title") {
                doc.title.clear();
                AppendDecoded(text.substr(i, end - i), doc.title);
            }
            std::size_t gt = text.find('>', end);
            if (gt == std::string_view::npos) break;
            i = gt + 1;
            continue;
        }
        if (auto s = builder.tag(tag); !s.ok()) return s.failure;
    }
    return doc;
}

}  // namespace veltrix::data::html
