// Byte counts of the storage sections: read from a property and shown in
// whole gigabytes or megabytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sections/frame.h"

namespace veltrix {

inline constexpr double kBytesPerMegabyte = 1048576.0;
inline constexpr double kBytesPerGigabyte = 1073741824.0;

// The byte count a property holds: decimal text (how 64-bit counts arrive)
// or a number. Anything else (Null, other text, a failed read) is recorded
// as a failure and gives nullopt.
std::optional<double> readByteCount(Frame& frame, const wmi::Object& object, std::string_view name);

// Whole gigabytes from 1 GB on, whole megabytes below ("#" pattern: halves
// away from zero, nothing for 0), then " GB" or " MB".
std::string diskSizeText(double bytes);

// Whole megabytes ("#" pattern), then " MB".
std::string megabyteText(double bytes);

}  // namespace veltrix
