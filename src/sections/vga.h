// Driver dates as WMI delivers them ("20061002000000.000000-000").
#pragma once

#include <string>
#include <string_view>

#include "core/result.h"
#include "core/locale.h"

namespace veltrix {

// Reads month, day and year (and the time) from the first fourteen digits
// yyyymmddHHMMSS, whatever the locale. A shorter text, or one whose digits
// form no valid date and time, is a failure.
Result<DateTime> ConvertWmiDate(std::string_view wmiDate);

// The locale's short date, then a space and its long time unless the time
// is exactly midnight.
std::string DriverDateText(const DateTime& when, const Locale& locale);

}  // namespace veltrix
