#include "store/machine_matching.h"

#include <algorithm>

namespace veltrix::store {
namespace {

constexpr const char* kCloneReason = "same UUID, other serial";

Result<std::vector<std::int64_t>> machinesWithKey(SqlConnection& connection, std::string_view kind,
                                                  std::string_view value) {
    std::vector<std::int64_t> ids;
    Status status = connection.query(
        "SELECT DISTINCT machine_id FROM machine_keys WHERE kind = ? AND value = ? ORDER BY machine_id",
        {kind, value}, [&](const SqlRow& row) { ids.push_back(row.integer(0)); });
    if (!status.ok()) return status.failure;
    return ids;
}

Result<std::vector<std::string>> keysOfMachine(SqlConnection& connection, std::int64_t machineId,
                                               std::string_view kind) {
    std::vector<std::string> values;
    Status status = connection.query("SELECT value FROM machine_keys WHERE machine_id = ? AND kind = ?",
                                     {machineId, kind}, [&](const SqlRow& row) {
                                         if (auto text = row.text(0)) values.emplace_back(*text);
                                     });
    if (!status.ok()) return status.failure;
    return values;
}

// A machine conflicts with the scan when both know a value of one kind and
// they share none: another UUID, or only other serials.
Result<bool> conflicts(SqlConnection& connection, std::int64_t machineId, std::string_view kind,
                       const std::vector<std::string>& scanValues) {
    if (scanValues.empty()) return false;
    auto known = keysOfMachine(connection, machineId, kind);
    if (!known) return known.failure();
    if (known->empty()) return false;
    for (const auto& value : scanValues) {
        if (std::find(known->begin(), known->end(), value) != known->end()) return false;
    }
    return true;
}

std::vector<std::string> uuidSpellings(const ScanKeys& keys) {
    if (!keys.uuid) return {};
    std::vector<std::string> spellings{*keys.uuid};
    std::string swapped = ByteSwappedUuid(*keys.uuid);
    if (swapped != *keys.uuid) spellings.push_back(swapped);
    return spellings;
}

}  // namespace

ScanKeys KeysOf(const MachineIdentity& identity, const std::string& designation,
                const std::optional<std::string>& agentId) {
    ScanKeys keys;
    keys.agentId = agentId;
    MachineIdentity usable = UsableIdentity(identity);
    keys.uuid = usable.uuid;
    for (const auto* serial : {&usable.enclosureSerial, &usable.boardSerial, &usable.biosSerial}) {
        if (!*serial) continue;
        if (auto key = SerialKey(**serial);
            key && std::find(keys.serials.begin(), keys.serials.end(), *key) == keys.serials.end()) {
            keys.serials.push_back(*key);
        }
    }
    keys.name = designation;
    return keys;
}

Result<MachineMatch> FindMachine(SqlConnection& connection, const ScanKeys& keys) {
    MachineMatch match;
    if (keys.agentId) {
        auto found = machinesWithKey(connection, "agent", *keys.agentId);
        if (!found) return found.failure();
        if (!found->empty()) {
            match.machineId = found->front();
            match.matchedBy = "agent";
            return match;
        }
    }
    const std::vector<std::string> uuids = uuidSpellings(keys);
    for (const auto& spelling : uuids) {
        auto found = machinesWithKey(connection, "uuid", spelling);
        if (!found) return found.failure();
        for (std::int64_t candidate : *found) {
            auto clash = conflicts(connection, candidate, "serial", keys.serials);
            if (!clash) return clash.failure();
            if (!*clash) {
                match.machineId = candidate;
                match.matchedBy = "uuid";
                return match;
            }
            if (std::find(match.sameUuidOtherSerial.begin(), match.sameUuidOtherSerial.end(), candidate) ==
                match.sameUuidOtherSerial.end()) {
                match.sameUuidOtherSerial.push_back(candidate);
            }
        }
    }
    for (const auto& serial : keys.serials) {
        auto found = machinesWithKey(connection, "serial", serial);
        if (!found) return found.failure();
        // A serial outlasts a UUID: a new board brings a new UUID into the
        // same enclosure.
        if (!found->empty()) {
            match.machineId = found->front();
            match.matchedBy = "serial";
            return match;
        }
    }
    // The designation decides only between machines that nothing tells
    // apart: one whose hardware says it is another PC is never taken.
    auto named = machinesWithKey(connection, "name", keys.name);
    if (!named) return named.failure();
    for (auto it = named->rbegin(); it != named->rend(); ++it) {
        auto serials = keysOfMachine(connection, *it, "serial");
        if (!serials) return serials.failure();
        auto uuid = keysOfMachine(connection, *it, "uuid");
        if (!uuid) return uuid.failure();
        // Both sides know serials (or UUIDs) and none matched above.
        if ((!keys.serials.empty() && !serials->empty()) || (keys.uuid && !uuid->empty())) continue;
        match.machineId = *it;
        match.matchedBy = "name";
        return match;
    }
    match.matchedBy = "new";
    return match;
}

Status RecordMachineKeys(SqlConnection& connection, std::int64_t machineId, const ScanKeys& keys,
                         const MachineMatch& match) {
    auto record = [&](std::string_view kind, std::string_view value) -> Status {
        return connection.query(
            "INSERT INTO machine_keys (machine_id, kind, value) SELECT ?, ?, ? WHERE NOT EXISTS "
            "(SELECT 1 FROM machine_keys WHERE machine_id = ? AND kind = ? AND value = ?)",
            {machineId, kind, value, machineId, kind, value});
    };
    if (keys.agentId) {
        if (Status s = record("agent", *keys.agentId); !s.ok()) return s;
    }
    if (keys.uuid) {
        if (Status s = record("uuid", *keys.uuid); !s.ok()) return s;
    }
    for (const auto& serial : keys.serials) {
        if (Status s = record("serial", serial); !s.ok()) return s;
    }
    if (Status s = record("name", keys.name); !s.ok()) return s;
    for (std::int64_t other : match.sameUuidOtherSerial) {
        if (other == machineId) continue;
        for (auto [a, b] : {std::pair{machineId, other}, std::pair{other, machineId}}) {
            Status s = connection.query(
                "INSERT INTO machine_flags (machine_id, other_machine_id, reason) SELECT ?, ?, ? WHERE NOT EXISTS "
                "(SELECT 1 FROM machine_flags WHERE machine_id = ? AND other_machine_id = ? AND reason = ?)",
                {a, b, std::string_view(kCloneReason), a, b, std::string_view(kCloneReason)});
            if (!s.ok()) return s;
            s = connection.query("UPDATE machines SET possible_clone = 1 WHERE id = ?", {a});
            if (!s.ok()) return s;
        }
    }
    return {};
}

Status RefreshMachine(SqlConnection& connection, std::int64_t machineId) {
    return connection.query(
        "UPDATE machines SET name = n.designation, host_name = n.host_name, uuid = n.uuid,\n"
        "  serial = COALESCE(n.enclosure_serial, n.board_serial, n.bios_serial)\n"
        "FROM (SELECT designation, host_name, uuid, enclosure_serial, board_serial, bios_serial FROM scans\n"
        "      WHERE machine_id = ? ORDER BY generated_at DESC, id DESC LIMIT 1) n\n"
        "WHERE machines.id = ?",
        {machineId, machineId});
}

}  // namespace veltrix::store
