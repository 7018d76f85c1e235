// One machine as the console shows it: who it is, how each scan recognised
// it, and its scans from the newest back.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/result.h"
#include "store/scan_changes.h"
#include "store/sql_connection.h"

namespace veltrix::fleet {

struct ScanEntry {
    std::int64_t id = 0;
    std::string designation;  // the report's name
    std::string takenAt;      // as the store dates scans; empty when unknown
    std::string matchedBy;    // "agent", "uuid", "serial", "name" or "new"
    std::string source;
    std::string comment;
    // What changed since the machine's scan before it; empty for its first.
    std::vector<store::ChangeLine> changes;
};

struct MachineHistory {
    std::int64_t id = 0;
    std::string name, hostName, uuid, serial;
    bool possibleClone = false;
    std::vector<std::pair<std::string, std::string>> keys;  // kind, value: what recognises it
    std::vector<ScanEntry> scans;                            // newest first
};

// Nothing for an unknown id.
Result<std::optional<MachineHistory>> readMachine(store::SqlConnection& connection, std::int64_t id);

}  // namespace veltrix::fleet
