// When a scan was taken, as the snapshot and the store keep it: ISO 8601
// with the UTC offset, so that the local wall-clock time the report showed
// is kept as well as the instant.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "core/locale.h"

namespace veltrix {

struct Timestamp {
    DateTime local;            // the wall-clock time where the scan ran
    int utcOffsetMinutes = 0;  // local minus UTC
};

// This computer's wall-clock time now.
DateTime LocalNow();

// A DateTime as the C library's broken-down time (no day of the week, the
// daylight-saving flag left for the library to find), and back.
std::tm BrokenDownTime(const DateTime& when);
DateTime DateTimeOf(const std::tm& broken);

// The offset of this computer's time zone at the local time `local` (the
// C library's rules, daylight saving included).
int LocalUtcOffsetMinutes(const DateTime& local);

// "2026-12-09T05:14:03+01:00" ("Z" is never written, "+00:00" instead).
std::string FormatIso8601(const Timestamp& when);

// Reads "YYYY-MM-DDThh:mm:ss" followed by "Z" or "+hh:mm"/"-hh:mm"; a
// fraction of a second is accepted and dropped. Nothing for any other form or
// an impossible date.
std::optional<Timestamp> ParseIso8601(std::string_view text);

}  // namespace veltrix
