// The figures of each machine's newest scan that search and the dashboard
// count and compare: maker and model, operating system, RAM and disk size as
// numbers, and when it was last seen.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/result.h"
#include "store/sql_connection.h"

namespace veltrix::fleet {

struct MachineFigures {
    std::int64_t machineId = 0;
    std::string name, hostName;
    std::string maker, model;  // as the newest scan reported them; empty when not
    std::string os;
    std::optional<std::int64_t> ramMegabytes;  // the modules' capacities added up
    std::optional<std::int64_t> diskGigabytes;  // the disks' sizes added up
    std::string lastSeen;                       // as the store dates scans; empty when unknown

    std::string makerModel() const;
};

// Every machine, or only those of `machineIds` when given; in no set order.
Result<std::vector<MachineFigures>> readMachineFigures(store::SqlConnection& connection,
                                                       const std::optional<std::vector<std::int64_t>>& machineIds = {});

// "932 GB", "512 MB", "2 TB" as gigabytes (rounded); nothing for other texts.
std::optional<std::int64_t> gigabytesOf(std::string_view size);

}  // namespace veltrix::fleet
