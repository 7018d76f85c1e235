#include "fleet/history.h"

#include <map>

namespace veltrix::fleet {

Result<std::optional<MachineHistory>> readMachine(store::SqlConnection& connection, std::int64_t id) {
    std::optional<MachineHistory> machine;
    auto text = [](const store::SqlRow& row, int column) { return std::string(row.text(column).value_or("")); };
    Status status = connection.query("SELECT id, name, host_name, uuid, serial, possible_clone FROM machines WHERE id = ?",
                                     {id}, [&](const store::SqlRow& row) {
                                         machine = MachineHistory{row.integer(0), text(row, 1), text(row, 2),
                                                                  text(row, 3), text(row, 4), row.integer(5) != 0};
                                     });
    if (!status.ok()) return status.failure;
    if (!machine) return machine;
    status = connection.query("SELECT kind, value FROM machine_keys WHERE machine_id = ? ORDER BY kind, value", {id},
                              [&](const store::SqlRow& row) { machine->keys.emplace_back(text(row, 0), text(row, 1)); });
    if (!status.ok()) return status.failure;
    // The same order as the store's "latest": by when taken, then by load order.
    status = connection.query(
        "SELECT id, designation, generated_at, matched_by, source, comment FROM scans WHERE machine_id = ? "
        "ORDER BY generated_at DESC, id DESC",
        {id}, [&](const store::SqlRow& row) {
            machine->scans.push_back(
                {row.integer(0), text(row, 1), text(row, 2), text(row, 3), text(row, 4), text(row, 5)});
        });
    if (!status.ok()) return status.failure;
    std::map<std::int64_t, std::size_t> byScan;
    for (std::size_t i = 0; i < machine->scans.size(); ++i) byScan[machine->scans[i].id] = i;
    status = connection.query(
        "SELECT c.scan_id, c.section, c.kind, c.caption, c.detail FROM scans s JOIN scan_changes c "
        "ON c.scan_id = s.id WHERE s.machine_id = ? ORDER BY c.scan_id, c.id",
        {id}, [&](const store::SqlRow& row) {
            auto found = byScan.find(row.integer(0));
            if (found == byScan.end()) return;
            machine->scans[found->second].changes.push_back({text(row, 1), text(row, 2), text(row, 3), text(row, 4)});
        });
    if (!status.ok()) return status.failure;
    return machine;
}

}  // namespace veltrix::fleet
