#include <cctype>
#include <cstring>
#include <optional>

#include "core/ascii.h"
#include "wmi/wql/expr.h"
#include "wmi/wql/query.h"

namespace veltrix::wmi::wql {

namespace {

Value operandValue(const Operand& operand, const Object& object) {
    if (!operand.isProperty) return operand.literal;
    auto value = object.get(operand.property);
    return value ? std::move(*value) : Value::null();
}

// Whole numbers compare exactly, also beyond 2^53 (64-bit sizes arrive as text).
bool exactInteger(const Value& v, __int128& out) {
    if (v.kind() == Kind::Int32 || v.kind() == Kind::UInt8) {
        out = v.asInt32();
        return true;
    }
    if (!v.isText()) return false;
    std::string_view t = v.asText();
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    bool negative = false;
    if (!t.empty() && (t.front() == '-' || t.front() == '+')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    if (t.empty() || t.size() > 36) return false;
    __int128 n = 0;
    for (char c : t) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        n = n * 10 + (c - '0');
    }
    out = negative ? -n : n;
    return true;
}

std::optional<bool> truthOf(const Value& v) {
    if (v.kind() == Kind::Bool) return v.asBool();
    double d = 0;
    if (v.toNumber(d)) return d != 0;
    if (v.isText()) {
        if (equalsIgnoringCase(v.asText(), "true")) return true;
        if (equalsIgnoringCase(v.asText(), "false")) return false;
    }
    return std::nullopt;
}

template <class T>
int order(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

int compareText(std::string_view a, std::string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(foldAscii(a[i]));
        const auto y = static_cast<unsigned char>(foldAscii(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return order(a.size(), b.size());
}

// -1, 0 or 1; nothing when the values cannot be compared (Null, arrays, NaN).
std::optional<int> compare(const Value& a, const Value& b) {
    if (a.isNull() || b.isNull() || a.kind() == Kind::Array || b.kind() == Kind::Array) return std::nullopt;
    if (a.kind() == Kind::Bool || b.kind() == Kind::Bool) {
        auto x = truthOf(a);
        auto y = truthOf(b);
        if (x && y) return order(int(*x), int(*y));
    } else {
        __int128 i = 0, j = 0;
        if (exactInteger(a, i) && exactInteger(b, j)) return order(i, j);
        double x = 0, y = 0;
        if (a.toNumber(x) && b.toNumber(y)) {
            if (x != x || y != y) return std::nullopt;
            return order(x, y);
        }
    }
    auto x = a.toText();
    auto y = b.toText();
    if (!x || !y) return std::nullopt;
    return compareText(*x, *y);
}

bool evaluate(const Expr& e, const Object& object) {
    switch (e.op) {
        case Op::Or: return evaluate(*e.left, object) || evaluate(*e.right, object);
        case Op::And: return evaluate(*e.left, object) && evaluate(*e.right, object);
        case Op::Not: return !evaluate(*e.left, object);
        case Op::IsNull: return operandValue(e.lhs, object).isNull() != e.negated;
        case Op::Like: {
            Value v = operandValue(e.lhs, object);
            Value pattern = operandValue(e.rhs, object);
            if (v.isNull() || pattern.isNull()) return false;
            auto text = v.toText();
            auto patternText = pattern.toText();
            if (!text || !patternText) return false;
            return likeMatches(*text, *patternText) != e.negated;
        }
        default: break;
    }
    auto c = compare(operandValue(e.lhs, object), operandValue(e.rhs, object));
    if (!c) return false;
    switch (e.op) {
        case Op::Equal: return *c == 0;
        case Op::NotEqual: return *c != 0;
        case Op::Less: return *c < 0;
        case Op::Greater: return *c > 0;
        case Op::LessEqual: return *c <= 0;
        case Op::GreaterEqual: return *c >= 0;
        default: return false;
    }
}

}  // namespace

bool matches(const Query& query, const Object& object) {
    return !query.where || evaluate(*query.where, object);
}

std::optional<PropertyEquality> propertyEquality(const Query& query) {
    if (!query.where || query.where->op != Op::Equal) return std::nullopt;
    const Expr& e = *query.where;
    if (e.lhs.isProperty == e.rhs.isProperty) return std::nullopt;
    const Operand& property = e.lhs.isProperty ? e.lhs : e.rhs;
    const Operand& literal = e.lhs.isProperty ? e.rhs : e.lhs;
    return PropertyEquality{property.property, literal.literal};
}

// Every way compare() can find two values equal gives them a shared key: the
// truth of both (when either is a Boolean), the exact whole number, the
// number, or the text without regard to ASCII letter case.
void equalityKeys(const Value& value, std::vector<std::string>& out) {
    out.clear();
    if (value.isNull() || value.kind() == Kind::Array) return;
    if (auto truth = truthOf(value)) out.push_back(*truth ? "b1" : "b0");
    __int128 whole = 0;
    if (exactInteger(value, whole)) {
        std::string digits;
        const bool negative = whole < 0;
        unsigned __int128 magnitude = negative ? -static_cast<unsigned __int128>(whole) : whole;
        do {
            digits += static_cast<char>('0' + static_cast<int>(magnitude % 10));
            magnitude /= 10;
        } while (magnitude != 0);
        if (negative && !(digits.size() == 1 && digits[0] == '0')) digits += '-';
        out.push_back("i" + std::string(digits.rbegin(), digits.rend()));
    }
    double number = 0;
    if (value.toNumber(number) && number == number) {
        if (number == 0) number = 0;  // -0 equals 0
        char bytes[sizeof number];
        std::memcpy(bytes, &number, sizeof number);
        out.push_back("n" + std::string(bytes, sizeof bytes));
    }
    if (auto text = value.toText()) {
        std::string key = "t";
        key.reserve(text->size() + 1);
        for (char c : *text) key += foldAscii(c);
        out.push_back(std::move(key));
    }
}

}  // namespace veltrix::wmi::wql
