// Number and date texts of the report.
#pragma once

#include <cstdint>
#include <string>

#include "core/locale.h"

namespace veltrix {

// The "#" pattern: rounded to a whole number, halves away from zero, plain
// digits, empty text for 0.
std::string formatNumberPattern(double value);

// Halves to the even neighbour, as a 64-bit whole number.
std::int64_t roundHalfEven(double value);

// "dd-mmmm-yyyy hh:mm", month name from the locale.
std::string formatScanTime(const DateTime& when, const Locale& locale);

}  // namespace veltrix
