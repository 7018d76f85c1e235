#include "core/timestamp.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace veltrix {
namespace {

TEST(Timestamp, WrittenAndReadBackWithItsOffset) {
    EXPECT_EQ(FormatIso8601({DateTime{2026, 12, 9, 5, 14, 3}, 60}), "2026-12-09T05:14:03+01:00");
    EXPECT_EQ(FormatIso8601({DateTime{2026, 1, 2, 3, 4, 5}, -330}), "2026-01-02T03:04:05-05:30");
    EXPECT_EQ(FormatIso8601({DateTime{2026, 1, 2, 3, 4, 5}, 0}), "2026-01-02T03:04:05+00:00");
    auto read = ParseIso8601("2026-01-02T03:04:05-05:30");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->local.year, 2026);
    EXPECT_EQ(read->local.second, 5);
    EXPECT_EQ(read->utcOffsetMinutes, -330);
    auto utc = ParseIso8601("2024-02-29T23:59:59.123Z");
    ASSERT_TRUE(utc);
    EXPECT_EQ(utc->utcOffsetMinutes, 0);
    EXPECT_EQ(utc->local.day, 29);
}

TEST(Timestamp, OtherFormsAndImpossibleDatesAreRefused) {
    for (std::string_view bad : {"", "2026-12-09", "2026-12-09 05:14:03+01:00", "2026-12-09T05:14:03",
                                 "2026-13-09T05:14:03Z", "2025-02-29T05:14:03Z", "2026-12-09T24:00:00Z",
                                 "2026-12-09T05:14:03+0100", "2026-12-09T05:14:03+01:00 ", "2026-12-09T05:14:03.Z",
                                 "09-December-2026 05:14"}) {
        EXPECT_FALSE(ParseIso8601(bad)) << bad;
    }
}

#ifndef _WIN32
// The offset follows the zone's rules for that day, summer time included.
TEST(Timestamp, LocalOffsetFollowsTheZoneOfTheDay) {
    const char* before = std::getenv("TZ");
    std::string saved = before ? before : "";
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    EXPECT_EQ(LocalUtcOffsetMinutes(DateTime{2026, 1, 15, 12, 0, 0}), 60);
    EXPECT_EQ(LocalUtcOffsetMinutes(DateTime{2026, 7, 15, 12, 0, 0}), 120);
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(LocalUtcOffsetMinutes(DateTime{2026, 7, 15, 12, 0, 0}), 0);
    if (before) ::setenv("TZ", saved.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
}
#endif

}  // namespace
}  // namespace veltrix
