// What the sections over signed drivers share: the query they start with
// and the first rows of a device block.
#pragma once

#include <string>
#include <string_view>

#include "sections/frame.h"

namespace veltrix {

inline constexpr std::string_view kSignedDriverQueryPrefix = "SELECT * FROM Win32_PnPSignedDriver WHERE ";

inline std::string signedDriverQuery(std::string_view condition) {
    return std::string(kSignedDriverQueryPrefix) + std::string(condition);
}

// "DeviceName", then "DriverVersion" when it is text and "PNPDeviceID" cut to
// its hardware part when the id is text.
void writeDriverIdentityRows(Frame& frame, const wmi::Object& device);

}  // namespace veltrix
