#include "wmi/value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace veltrix::wmi {

Value Value::boolean(bool b) {
    Value v;
    v.kind_ = Kind::Bool;
    v.b_ = b;
    return v;
}

Value Value::int32(std::int32_t i) {
    Value v;
    v.kind_ = Kind::Int32;
    v.i_ = i;
    return v;
}

Value Value::uint8(std::uint8_t u) {
    Value v;
    v.kind_ = Kind::UInt8;
    v.i_ = u;
    return v;
}

Value Value::real32(float f) {
    Value v;
    v.kind_ = Kind::Real32;
    v.d_ = f;
    return v;
}

Value Value::real64(double d) {
    Value v;
    v.kind_ = Kind::Real64;
    v.d_ = d;
    return v;
}

std::string& Value::textToFill() {
    if (kind_ != Kind::Text) {
        b_ = false;
        i_ = 0;
        d_ = 0;
        items_.clear();
        kind_ = Kind::Text;
    }
    return text_;
}

Value Value::text(std::string utf8) {
    Value v;
    v.kind_ = Kind::Text;
    v.text_ = std::move(utf8);
    return v;
}

Value Value::array(std::vector<Value> items) {
    Value v;
    v.kind_ = Kind::Array;
    v.items_ = std::move(items);
    return v;
}

bool Value::isNumber() const {
    return kind_ == Kind::Int32 || kind_ == Kind::UInt8 || kind_ == Kind::Real32 || kind_ == Kind::Real64;
}

std::string formatReal(double value, int digits, char decimalSeparator) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*G", digits, value);
    std::string text = buffer;
    // %G may choose an exponent; keep it, but mend the separator and drop
    // trailing zeros of the mantissa (%G already does) .
    for (char& c : text) {
        if (c == '.') c = decimalSeparator;
    }
    return text;
}

Result<std::string> Value::toText(char decimalSeparator) const {
    switch (kind_) {
        case Kind::Null: return std::string();
        case Kind::Bool: return std::string(b_ ? "True" : "False");
        case Kind::Int32:
        case Kind::UInt8: return std::to_string(i_);
        case Kind::Real32: return formatReal(d_, 7, decimalSeparator);
        case Kind::Real64: return formatReal(d_, 15, decimalSeparator);
        case Kind::Text: return text_;
        case Kind::Array: break;
    }
    return Failure{failure_code::kTypeMismatch, "Type mismatch: an array has no text form"};
}

bool Value::toNumber(double& out) const {
    switch (kind_) {
        case Kind::Int32:
        case Kind::UInt8: out = i_; return true;
        case Kind::Real32:
        case Kind::Real64:
            // Infinity and NaN are no amount of anything.
            if (!std::isfinite(d_)) return false;
            out = d_;
            return true;
        case Kind::Bool: out = b_ ? -1 : 0; return true;
        case Kind::Text: {
            const std::string& t = text_;
            std::size_t start = t.find_first_not_of(' ');
            std::size_t end = t.find_last_not_of(' ');
            if (start == std::string::npos) return false;
            std::string trimmed = t.substr(start, end - start + 1);
            if (trimmed.empty()) return false;
            // Only plain decimal forms count as numbers, not "inf" or hex.
            for (char c : trimmed) {
                if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '-' || c == '+' || c == '.' ||
                      c == 'e' || c == 'E')) {
                    return false;
                }
            }
            char* endPtr = nullptr;
            double d = std::strtod(trimmed.c_str(), &endPtr);
            if (endPtr != trimmed.c_str() + trimmed.size()) return false;
            // "1e999" overflows to infinity: a size no machine has, so not a number.
            if (!std::isfinite(d)) return false;
            out = d;
            return true;
        }
        case Kind::Null:
        case Kind::Array: return false;
    }
    return false;
}

bool Value::operator==(const Value& other) const {
    if (kind_ != other.kind_) return false;
    switch (kind_) {
        case Kind::Null: return true;
        case Kind::Bool: return b_ == other.b_;
        case Kind::Int32:
        case Kind::UInt8: return i_ == other.i_;
        case Kind::Real32:
        case Kind::Real64: return d_ == other.d_;
        case Kind::Text: return text_ == other.text_;
        case Kind::Array: return items_ == other.items_;
    }
    return false;
}

}  // namespace veltrix::wmi
