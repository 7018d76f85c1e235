// Machines the identity rules flagged instead of merging: two machines that
// show one UUID with different serials (cloned virtual machines, or a board
// replaced under a kept UUID), for an administrator to look at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/result.h"
#include "store/sql_connection.h"

namespace veltrix::fleet {

struct FlaggedPair {
    std::int64_t machineId = 0, otherMachineId = 0;  // machineId < otherMachineId
    std::string name, otherName;
    std::string serial, otherSerial;
    std::string uuid;
    std::string reason;
};

// Each pair once, by the first machine's id.
Result<std::vector<FlaggedPair>> listFlaggedMachines(store::SqlConnection& connection);

}  // namespace veltrix::fleet
