#include "fleet/machine_figures.h"


namespace veltrix::fleet {

std::string MachineFiguresColumnsSql() {
    return "s.machine_id, s.name, s.host_name, s.maker, s.model, s.os, s.ram_mb, s.disk_gb, s.last_seen";
}

MachineFigures MachineFiguresOf(const store::SqlRow& row) {
    auto text = [&row](int column) { return std::string(row.text(column).value_or("")); };
    auto figure = [&row](int column) {
        return row.text(column) ? std::optional<std::int64_t>(row.integer(column)) : std::nullopt;
    };
    return {row.integer(0), text(1), text(2), text(3), text(4), text(5), figure(6), figure(7), text(8)};
}

std::string MachineFigures::makerModel() const {
    if (maker.empty()) return model;
    if (model.empty()) return maker;
    return maker + " / " + model;
}

Result<std::vector<MachineFigures>> readMachineFigures(store::SqlConnection& connection,
                                                       const std::vector<std::int64_t>& machineIds) {
    std::vector<MachineFigures> machines;
    if (machineIds.empty()) return machines;
    std::string sql = "SELECT " + MachineFiguresColumnsSql() + " FROM machine_summary s WHERE s.machine_id IN (";
    std::vector<store::SqlParam> params;
    for (std::int64_t id : machineIds) {
        sql += params.empty() ? "?" : ", ?";
        params.emplace_back(id);
    }
    Status status = connection.query(sql + ")", params,
                                     [&](const store::SqlRow& row) { machines.push_back(MachineFiguresOf(row)); });
    if (!status.ok()) return status.failure;
    return machines;
}

}  // namespace veltrix::fleet
