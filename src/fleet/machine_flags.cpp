#include "fleet/machine_flags.h"

namespace veltrix::fleet {

Result<std::vector<FlaggedPair>> listFlaggedMachines(store::SqlConnection& connection) {
    std::vector<FlaggedPair> pairs;
    // The store keeps each flag both ways; one way is enough to show.
    Status status = connection.query(
        "SELECT f.machine_id, f.other_machine_id, a.name, b.name, a.serial, b.serial, a.uuid, f.reason "
        "FROM machine_flags f JOIN machines a ON a.id = f.machine_id JOIN machines b ON b.id = f.other_machine_id "
        "WHERE f.machine_id < f.other_machine_id ORDER BY f.machine_id, f.other_machine_id, f.reason",
        {}, [&](const store::SqlRow& row) {
            auto text = [&](int column) { return std::string(row.text(column).value_or("")); };
            pairs.push_back({row.integer(0), row.integer(1), text(2), text(3), text(4), text(5), text(6), text(7)});
        });
    if (!status.ok()) return status.failure;
    return pairs;
}

}  // namespace veltrix::fleet
