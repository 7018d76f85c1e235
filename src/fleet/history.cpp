#include "fleet/history.h"

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
    return machine;
}

}  // namespace veltrix::fleet
