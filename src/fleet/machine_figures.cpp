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

}  // namespace veltrix::fleet
