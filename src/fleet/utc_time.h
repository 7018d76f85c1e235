// The fleet's times, all in UTC: one spelling for what people and scripts
// read, one for how the store dates scans.
#pragma once

#include <ctime>
#include <string>

namespace veltrix::fleet {

// "2026-12-09T05:14:03Z" for a time in seconds since 1970.
std::string utcText(std::time_t when);

// "2026-12-09T05:14:03Z", this computer's clock now.
std::string utcNow();

// "2026-12-09 05:14:03", as the store dates scans (and so compares them).
std::string storeTime(std::time_t when);

}  // namespace veltrix::fleet
