#include "fleet/machine_figures.h"

#include <charconv>
#include <unordered_map>

namespace veltrix::fleet {
namespace {

// "8192 MB" as 8192; nothing for another form.
std::optional<std::int64_t> figure(std::string_view text, std::string_view unit) {
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || value < 0 || std::string_view(end, text.data() + text.size() - end) != unit) {
        return std::nullopt;
    }
    return value;
}

// "?, ?, ?" for n parameters.
std::string placeholders(std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i) text += i ? ", ?" : "?";
    return text;
}

}  // namespace

std::string MachineFigures::makerModel() const {
    if (maker.empty()) return model;
    if (model.empty()) return maker;
    return maker + " / " + model;
}

std::optional<std::int64_t> gigabytesOf(std::string_view size) {
    // Figures far beyond any disk are refused rather than overflowed.
    constexpr std::int64_t kLargest = std::int64_t{1} << 40;
    if (auto gb = figure(size, " GB"); gb && *gb < kLargest) return gb;
    if (auto tb = figure(size, " TB"); tb && *tb < kLargest / 1024) return *tb * 1024;
    if (auto mb = figure(size, " MB"); mb && *mb < kLargest) return (*mb + 512) / 1024;
    return std::nullopt;
}

Result<std::vector<MachineFigures>> readMachineFigures(store::SqlConnection& connection,
                                                       const std::optional<std::vector<std::int64_t>>& machineIds) {
    std::vector<MachineFigures> machines;
    if (machineIds && machineIds->empty()) return machines;
    std::vector<store::SqlParam> params;
    std::string only;
    if (machineIds) {
        only = " AND l.machine_id IN (" + placeholders(machineIds->size()) + ")";
        for (std::int64_t id : *machineIds) params.emplace_back(id);
    }
    std::unordered_map<std::int64_t, std::size_t> byScan;
    Status status = connection.query(
        "SELECT l.id, l.machine_id, l.machine, n.host_name, n.generated_at FROM latest l JOIN scans n ON n.id = l.id "
        "WHERE 1 = 1" + only,
        params, [&](const store::SqlRow& row) {
            byScan.emplace(row.integer(0), machines.size());
            MachineFigures m;
            m.machineId = row.integer(1);
            m.name = std::string(row.text(2).value_or(""));
            m.hostName = std::string(row.text(3).value_or(""));
            m.lastSeen = std::string(row.text(4).value_or(""));
            machines.push_back(std::move(m));
        });
    if (!status.ok()) return status.failure;
    // CROSS JOIN keeps SQLite walking the newest scans and seeking their
    // rows through rows_by_scan, rather than reading every row of the store;
    // the list of sections lets it seek each section instead of reading all
    // of a scan's rows.
    status = connection.query(
        "SELECT r.scan_id, r.section, r.label, r.value FROM latest l CROSS JOIN \"rows\" r "
        "WHERE r.scan_id = l.id AND r.section IN ('Memory', 'HDD', 'Systeminformation', 'Motherboard', "
        "'Operatingsystem') AND ((r.section = 'Memory' AND r.label = 'Capacity') "
        "OR (r.section = 'HDD' AND r.label = 'Size') "
        "OR (r.section = 'Systeminformation' AND r.label = 'Product') "
        "OR (r.section = 'Motherboard' AND r.label = 'Manufacturer (System)') "
        "OR (r.section = 'Operatingsystem' AND r.label = 'Name'))" + only + " ORDER BY r.scan_id, r.position",
        params, [&](const store::SqlRow& row) {
            auto found = byScan.find(row.integer(0));
            if (found == byScan.end()) return;
            MachineFigures& m = machines[found->second];
            std::string_view section = row.text(1).value_or("");
            std::string_view value = row.text(3).value_or("");
            if (section == "Memory") {
                if (auto mb = figure(value, " MB"); mb && *mb < (std::int64_t{1} << 40)) {
                    m.ramMegabytes = m.ramMegabytes.value_or(0) + *mb;
                }
            } else if (section == "HDD") {
                if (auto gb = gigabytesOf(value)) m.diskGigabytes = m.diskGigabytes.value_or(0) + *gb;
            } else if (section == "Systeminformation") {
                if (m.model.empty()) m.model = value;
            } else if (section == "Motherboard") {
                if (m.maker.empty()) m.maker = value;
            } else if (m.os.empty()) {
                m.os = value;
            }
        });
    if (!status.ok()) return status.failure;
    return machines;
}

}  // namespace veltrix::fleet
