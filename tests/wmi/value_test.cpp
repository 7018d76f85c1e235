#include "wmi/value.h"

#include <gtest/gtest.h>

#include "wmi/property_object.h"

using veltrix::wmi::PropertyObject;
using veltrix::wmi::Value;

TEST(Value, TextForms) {
    EXPECT_EQ(*Value::null().toText(), "");
    EXPECT_EQ(*Value::text("abc").toText(), "abc");
    EXPECT_EQ(*Value::int32(-42).toText(), "-42");
    EXPECT_EQ(*Value::uint8(255).toText(), "255");
    EXPECT_EQ(*Value::boolean(false).toText(), "False");
    EXPECT_EQ(*Value::boolean(true).toText(), "True");
    EXPECT_EQ(*Value::real32(7.3f).toText('.'), "7.3");
    EXPECT_EQ(*Value::real32(7.3f).toText(','), "7,3");
    EXPECT_EQ(*Value::real32(5.9f).toText(), "5.9");
    EXPECT_EQ(*Value::real32(8.0f).toText(), "8");
    EXPECT_FALSE(Value::array({Value::int32(1)}).toText().ok());
}

TEST(Value, NumbersFromText) {
    double d = 0;
    EXPECT_TRUE(Value::text("500107862016").toNumber(d));
    EXPECT_EQ(d, 500107862016.0);
    EXPECT_FALSE(Value::text("12abc").toNumber(d));
    EXPECT_FALSE(Value::text("").toNumber(d));
    EXPECT_FALSE(Value::text("inf").toNumber(d));
    EXPECT_FALSE(Value::null().toNumber(d));
}

TEST(PropertyObject, NamesAreCaseInsensitiveAndMissingIsAFailure) {
    PropertyObject o;
    o.set("DeviceId", Value::text("C:"));
    EXPECT_EQ(o.get("DeviceID")->asText(), "C:");
    o.set("DEVICEID", Value::text("D:"));
    EXPECT_EQ(o.propertyNames().size(), 1u);
    EXPECT_EQ(o.get("deviceid")->asText(), "D:");
    auto missing = o.get("Size");
    ASSERT_FALSE(missing.ok());
    EXPECT_GT(missing.failure().number, 0);
}

// A reader fills one value over and over: whatever it held before, it is then
// the text filled in and nothing else.
TEST(Value, FilledInPlaceIsTextAlone) {
    for (Value v : {Value::array({Value::int32(1)}), Value::int32(7), Value::boolean(true), Value::text("long text before")}) {
        v.textToFill() = "12";
        EXPECT_TRUE(v.isText());
        EXPECT_EQ(v, Value::text("12"));
        EXPECT_EQ(*v.toText(), "12");
        EXPECT_TRUE(v.asArray().empty());
        EXPECT_EQ(v.asInt32(), 0);
        EXPECT_FALSE(v.asBool());
    }
}
