#include "providers/windows/variant_value.h"

#include <gtest/gtest.h>

#include "providers/windows/com_handles.h"

namespace veltrix::win {
namespace {

wmi::Value convert(VARIANT& v) {
    auto value = valueFromVariant(v);
    EXPECT_TRUE(value.ok()) << (value.ok() ? "" : value.failure().description);
    return value.ok() ? *value : wmi::Value();
}

TEST(VariantValue, WholeNumbersBecomeInt32AndLargeUnsignedBecomeDigits) {
    Variant v;
    v.get().vt = VT_I4;
    v.get().lVal = -7;
    EXPECT_EQ(convert(v.get()), wmi::Value::int32(-7));
    v.get().vt = VT_UI2;
    v.get().uiVal = 65535;
    EXPECT_EQ(convert(v.get()), wmi::Value::int32(65535));
    v.get().vt = VT_I2;
    v.get().iVal = -2;
    EXPECT_EQ(convert(v.get()), wmi::Value::int32(-2));
    v.get().vt = VT_UI4;
    v.get().ulVal = 2147483647u;
    EXPECT_EQ(convert(v.get()), wmi::Value::int32(2147483647));
    v.get().ulVal = 4294967295u;
    EXPECT_EQ(convert(v.get()), wmi::Value::text("4294967295"));
    v.get().vt = VT_UI8;
    v.get().ullVal = 18446744073709551615ull;
    EXPECT_EQ(convert(v.get()), wmi::Value::text("18446744073709551615"));
    v.get().vt = VT_I8;
    v.get().llVal = -5;
    EXPECT_EQ(convert(v.get()), wmi::Value::int32(-5));
}

TEST(VariantValue, OtherScalarKinds) {
    Variant v;
    v.get().vt = VT_UI1;
    v.get().bVal = 200;
    EXPECT_EQ(convert(v.get()), wmi::Value::uint8(200));
    v.get().vt = VT_BOOL;
    v.get().boolVal = VARIANT_TRUE;
    EXPECT_EQ(convert(v.get()), wmi::Value::boolean(true));
    v.get().boolVal = VARIANT_FALSE;
    EXPECT_EQ(convert(v.get()), wmi::Value::boolean(false));
    v.get().vt = VT_R4;
    v.get().fltVal = 1.5f;
    EXPECT_EQ(convert(v.get()), wmi::Value::real32(1.5f));
    v.get().vt = VT_R8;
    v.get().dblVal = 0.25;
    EXPECT_EQ(convert(v.get()), wmi::Value::real64(0.25));
    v.get().vt = VT_NULL;
    EXPECT_TRUE(convert(v.get()).isNull());
    v.get().vt = VT_EMPTY;
    EXPECT_TRUE(convert(v.get()).isNull());
}

TEST(VariantValue, TextIsUtf8AndKeepsEmbeddedCharacters) {
    Variant v;
    v.get().vt = VT_BSTR;
    v.get().bstrVal = SysAllocString(L"M\u00fcller \u20ac <tag> & \u4e2d");
    EXPECT_EQ(convert(v.get()), wmi::Value::text("M\xc3\xbcller \xe2\x82\xac <tag> & \xe4\xb8\xad"));
    Variant empty;
    empty.get().vt = VT_BSTR;
    empty.get().bstrVal = nullptr;  // a null BSTR is the empty text
    EXPECT_EQ(convert(empty.get()), wmi::Value::text(""));
}

TEST(VariantValue, ArraysOfTextAndNumbers) {
    SAFEARRAY* texts = SafeArrayCreateVector(VT_BSTR, 0, 2);
    Bstr one{std::wstring_view(L"one")}, two{std::wstring_view(L"two")};
    LONG i = 0;
    SafeArrayPutElement(texts, &i, one.get());  // the array keeps a copy
    i = 1;
    SafeArrayPutElement(texts, &i, two.get());
    Variant v;
    v.get().vt = VT_ARRAY | VT_BSTR;
    v.get().parray = texts;
    EXPECT_EQ(convert(v.get()), wmi::Value::array({wmi::Value::text("one"), wmi::Value::text("two")}));

    SAFEARRAY* numbers = SafeArrayCreateVector(VT_UI2, 0, 3);
    for (LONG k = 0; k < 3; ++k) {
        USHORT n = static_cast<USHORT>(10 + k);
        SafeArrayPutElement(numbers, &k, &n);
    }
    Variant w;
    w.get().vt = VT_ARRAY | VT_UI2;
    w.get().parray = numbers;
    EXPECT_EQ(convert(w.get()),
              wmi::Value::array({wmi::Value::int32(10), wmi::Value::int32(11), wmi::Value::int32(12)}));

    Variant none;
    none.get().vt = VT_ARRAY | VT_I4;
    none.get().parray = SafeArrayCreateVector(VT_I4, 0, 0);
    EXPECT_EQ(convert(none.get()), wmi::Value::array({}));
}

TEST(VariantValue, DatesBecomeTextAndObjectsFailCleanly) {
    Variant date;
    date.get().vt = VT_DATE;
    date.get().date = 45000.5;
    auto text = valueFromVariant(date.get());
    ASSERT_TRUE(text.ok());
    EXPECT_TRUE(text->isText());
    EXPECT_FALSE(text->asText().empty());

    Variant object;
    object.get().vt = VT_UNKNOWN;
    object.get().punkVal = nullptr;
    auto failed = valueFromVariant(object.get());
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.failure().number, failure_code::kTypeMismatch);
    EXPECT_NE(failed.failure().description.find("Type mismatch"), std::string::npos);
}

}  // namespace
}  // namespace veltrix::win
