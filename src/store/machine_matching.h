// Which machine a scan belongs to. A machine is its hardware, not the name
// typed at scan time: the store looks for it by the agent that sent the
// scan, then by the SMBIOS UUID (both byte orders), then by the enclosure,
// board or BIOS serial, and only last by the designation. Placeholder values
// identify nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/machine_identity.h"
#include "core/result.h"
#include "store/sql_connection.h"

namespace veltrix::store {

// The keys of one scan, in the form the store keeps them.
struct ScanKeys {
    std::optional<std::string> agentId;
    std::optional<std::string> uuid;   // canonical
    std::vector<std::string> serials;  // enclosure, board, BIOS: those present, as SerialKey gives them
    std::string name;                  // the designation
};

ScanKeys KeysOf(const MachineIdentity& identity, const std::string& designation,
                const std::optional<std::string>& agentId);

struct MachineMatch {
    std::optional<std::int64_t> machineId;  // none: a new machine
    std::string matchedBy;                  // "agent", "uuid", "serial", "name" or "new"
    // Machines that share this scan's UUID but show other serials: clones of
    // one virtual machine, or boards with a copied UUID. Never merged.
    std::vector<std::int64_t> sameUuidOtherSerial;
};

Result<MachineMatch> FindMachine(SqlConnection& connection, const ScanKeys& keys);

// Records the scan's keys for its machine, and flags the machines that share
// its UUID with other serials.
Status RecordMachineKeys(SqlConnection& connection, std::int64_t machineId, const ScanKeys& keys,
                         const MachineMatch& match);

// Sets the machine's name, host name, UUID and serial from its newest scan.
Status RefreshMachine(SqlConnection& connection, std::int64_t machineId);

}  // namespace veltrix::store
