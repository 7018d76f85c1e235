// The figures of a machine's newest scan that a search shows beside each
// machine it finds: maker and model, operating system, RAM and disk size as
// numbers, and when it was last seen, read from the machine's summary.
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

// The columns of machine_summary (as `s`) that make the figures, and the
// figures from a row of them.
std::string MachineFiguresColumnsSql();
MachineFigures MachineFiguresOf(const store::SqlRow& row);

}  // namespace veltrix::fleet
