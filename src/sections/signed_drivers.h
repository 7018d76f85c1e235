// What the sections over signed drivers share: the query they start with.
#pragma once

#include <string>
#include <string_view>

namespace veltrix {

inline constexpr std::string_view kSignedDriverQueryPrefix = "SELECT * FROM Win32_PnPSignedDriver WHERE ";

inline std::string signedDriverQuery(std::string_view condition) {
    return std::string(kSignedDriverQueryPrefix) + std::string(condition);
}

}  // namespace veltrix
