// What identifies the hardware a scan was taken on.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace veltrix::data {
struct MachineIdentity {
    std::optional<std::string> hostName, uuid, enclosureSerial, boardSerial, biosSerial;
    std::vector<std::string> macs;
    bool operator==(const MachineIdentity&) const = default;
};
}  // namespace veltrix::data
