// A property value as a data source hands it out: the kinds live WMI uses for
// the classes this program reads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"

namespace veltrix::wmi {

enum class Kind { Null, Bool, Int32, UInt8, Real32, Real64, Text, Array };

class Value {
public:
    Value() = default;  // Null
    static Value null() { return {}; }
    static Value boolean(bool b);
    static Value int32(std::int32_t i);
    static Value uint8(std::uint8_t u);
    static Value real32(float f);
    static Value real64(double d);
    static Value text(std::string utf8);
    static Value array(std::vector<Value> items);

    Kind kind() const { return kind_; }
    bool isNull() const { return kind_ == Kind::Null; }
    bool isText() const { return kind_ == Kind::Text; }
    bool isInt32() const { return kind_ == Kind::Int32; }
    bool isNumber() const;

    bool asBool() const { return b_; }
    std::int32_t asInt32() const { return i_; }
    std::uint8_t asUInt8() const { return static_cast<std::uint8_t>(i_); }
    float asReal32() const { return static_cast<float>(d_); }
    double asReal64() const { return d_; }
    const std::string& asText() const { return text_; }
    const std::vector<Value>& asArray() const { return items_; }
    // This value made Text, whatever it was, keeping the storage of the
    // text it held, for a reader to fill in place: a reader that fills one
    // value over and over allocates only when a text outgrows the last.
    std::string& textToFill();

    // The text form the collectors write: text unchanged, whole numbers in
    // plain decimal, Null as empty text, Bool as "True"/"False", reals with up
    // to 7 (Real32) or 15 (Real64) significant digits and the given decimal
    // separator. An Array has no text form: that fails.
    Result<std::string> toText(char decimalSeparator = '.') const;

    // The number this value stands for, when it is one or is text that reads
    // as one (a 64-bit count delivered as decimal text). Only finite numbers
    // count: infinity, NaN and text that overflows a double do not.
    bool toNumber(double& out) const;

    bool operator==(const Value& other) const;

private:
    Kind kind_ = Kind::Null;
    bool b_ = false;
    std::int32_t i_ = 0;
    double d_ = 0;
    std::string text_;
    std::vector<Value> items_;
};

// Formats a real with at most `digits` significant digits, no exponent for
// ordinary magnitudes, trailing zeros dropped.
std::string formatReal(double value, int digits, char decimalSeparator);

}  // namespace veltrix::wmi
