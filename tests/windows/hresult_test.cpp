#include "providers/windows/hresult.h"

#include <gtest/gtest.h>

#include "platform/windows/utf16.h"

namespace veltrix::win {
namespace {

TEST(Hresult, NumbersArePositiveAndMatchTheOtherDataSources) {
    EXPECT_EQ(failureNumber(static_cast<long>(0x80041010)), failure_code::kInvalidClass);
    EXPECT_EQ(failureNumber(static_cast<long>(0x8004100E)), failure_code::kInvalidNamespace);
    EXPECT_EQ(failureNumber(static_cast<long>(0x80041017)), failure_code::kInvalidQuery);
    // Low bits 0: the HRESULT without its sign bit, still above 0.
    EXPECT_EQ(failureNumber(static_cast<long>(0x80050000)), 0x00050000);
    EXPECT_GT(failureNumber(static_cast<long>(0x80000000)), 0);
}

TEST(Hresult, DescriptionsNameTheCallTheCodeAndItsMeaning) {
    EXPECT_EQ(describeHresult(static_cast<long>(0x80041010)), "Invalid class (0x80041010)");
    EXPECT_EQ(describeHresult(static_cast<long>(0x8004100E)), "Invalid namespace (0x8004100E)");
    EXPECT_EQ(describeHresult(static_cast<long>(0x800706BA)), "The RPC server is unavailable (0x800706BA)");
    Failure f = hresultFailure("ExecQuery", static_cast<long>(0x80041017));
    EXPECT_EQ(f.number, 4119);
    EXPECT_EQ(f.description, "ExecQuery: Invalid query (0x80041017)");
    // An unknown code still carries its hexadecimal form.
    EXPECT_NE(describeHresult(static_cast<long>(0x8004FFFE)).find("(0x8004FFFE)"), std::string::npos);
}

TEST(Utf16, RoundTripsEveryPlane) {
    const std::string text = "a\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80z";
    std::wstring wide = toWide(text);
    EXPECT_EQ(wide, std::wstring(L"a\u00e4\u20ac\U0001F600z"));
    EXPECT_EQ(toUtf8(wide), text);
    EXPECT_EQ(toWide(""), L"");
    EXPECT_EQ(toUtf8(L""), "");
}

}  // namespace
}  // namespace veltrix::win
