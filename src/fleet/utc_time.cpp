#include "fleet/utc_time.h"

#include <chrono>

namespace veltrix::fleet {
namespace {

std::string formatUtc(std::time_t when, const char* pattern) {
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[32];
    std::strftime(text, sizeof text, pattern, &parts);
    return text;
}

}  // namespace

std::string utcText(std::time_t when) { return formatUtc(when, "%Y-%m-%dT%H:%M:%SZ"); }

std::string utcNow() { return utcText(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now())); }

std::string storeTime(std::time_t when) { return formatUtc(when, "%Y-%m-%d %H:%M:%S"); }

}  // namespace veltrix::fleet
