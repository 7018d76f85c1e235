#include "fleet/fleet_list.h"

#include <algorithm>
#include <charconv>

#include "core/ascii.h"
#include "fleet/utc_time.h"

namespace veltrix::fleet {
namespace {

// Figures sort by value, not by text: "9 GB" before "16 GB".
long long leadingNumber(std::string_view text) {
    long long value = -1;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

bool numeric(FleetColumn column) { return column == FleetColumn::Ram || column == FleetColumn::Programs; }


}  // namespace

const std::vector<FleetColumnInfo>& fleetColumns() {
    static const std::vector<FleetColumnInfo> columns{
        {FleetColumn::Name, "name", "Name"},
        {FleetColumn::HostName, "host", "Host name"},
        {FleetColumn::MakerModel, "model", "Maker / model"},
        {FleetColumn::Serial, "serial", "Serial"},
        {FleetColumn::Cpu, "cpu", "CPU"},
        {FleetColumn::Ram, "ram", "RAM total"},
        {FleetColumn::Disks, "disks", "Disks"},
        {FleetColumn::Os, "os", "Operating system"},
        {FleetColumn::Programs, "programs", "Programs"},
        {FleetColumn::LastSeen, "seen", "Last seen"},
    };
    return columns;
}

FleetQuery fleetQueryFrom(const std::string& filter, const std::string& sort, const std::string& order,
                          const std::string& page) {
    FleetQuery query;
    query.filter = filter.substr(0, 200);
    for (const auto& info : fleetColumns()) {
        if (sort == info.key) query.sort = info.column;
    }
    query.descending = order == "desc";
    std::size_t number = 0;
    auto [end, error] = std::from_chars(page.data(), page.data() + page.size(), number);
    if (error == std::errc() && end == page.data() + page.size() && number >= 1) query.page = number;
    return query;
}

std::string fleetCell(const store::OverviewLine& line, FleetColumn column) {
    switch (column) {
        case FleetColumn::Name: return line.machine;
        case FleetColumn::HostName: return line.hostName;
        case FleetColumn::MakerModel: return line.makerModel;
        case FleetColumn::Serial: return line.serial;
        case FleetColumn::Cpu: return line.cpu;
        case FleetColumn::Ram: return line.ramTotal;
        case FleetColumn::Disks: return line.disks;
        case FleetColumn::Os: return line.os;
        case FleetColumn::Programs: return line.programsCollected ? std::to_string(line.programs) : "not collected";
        case FleetColumn::LastSeen: return line.lastSeen.empty() ? "unknown" : line.lastSeen;
    }
    return {};
}

Result<FleetList> listFleet(store::SqlConnection& connection, const FleetQuery& query, std::time_t now) {
    auto overview = store::readOverview(connection);
    if (!overview) return overview.failure();
    FleetList list;
    list.machines = overview->size();
    const std::string needle = lowerAscii(query.filter);
    const std::string staleBefore = storeTime(now - static_cast<std::time_t>(kStaleDays) * 86400);
    std::vector<FleetLine> matching;
    for (auto& line : *overview) {
        if (!needle.empty()) {
            bool found = false;
            for (const auto& info : fleetColumns()) {
                if (lowerAscii(fleetCell(line, info.column)).find(needle) != std::string::npos) found = true;
            }
            if (!found) continue;
        }
        FleetLine entry{std::move(line), false};
        entry.stale = !entry.line.lastSeen.empty() && entry.line.lastSeen < staleBefore;
        if (entry.stale) ++list.stale;
        matching.push_back(std::move(entry));
    }
    list.matching = matching.size();
    const FleetColumn column = query.sort;
    const bool descending = query.descending;
    // The column decides; machines equal in it stay in the order they were
    // first seen whichever way the column goes.
    auto before = [column, descending](const FleetLine& a, const FleetLine& b) {
        int order = 0;
        if (numeric(column)) {
            long long x = column == FleetColumn::Programs ? (a.line.programsCollected ? a.line.programs : -1)
                                                          : leadingNumber(a.line.ramTotal);
            long long y = column == FleetColumn::Programs ? (b.line.programsCollected ? b.line.programs : -1)
                                                          : leadingNumber(b.line.ramTotal);
            order = x < y ? -1 : x > y ? 1 : 0;
        } else {
            order = lowerAscii(fleetCell(a.line, column)).compare(lowerAscii(fleetCell(b.line, column)));
        }
        if (order != 0) return descending ? order > 0 : order < 0;
        return a.line.machineId < b.line.machineId;
    };
    std::sort(matching.begin(), matching.end(), before);
    list.pages = std::max<std::size_t>(1, (matching.size() + kFleetPageSize - 1) / kFleetPageSize);
    list.page = std::min(query.page, list.pages);
    const std::size_t first = (list.page - 1) * kFleetPageSize;
    for (std::size_t i = first; i < matching.size() && i < first + kFleetPageSize; ++i) {
        list.lines.push_back(std::move(matching[i]));
    }
    return list;
}

}  // namespace veltrix::fleet
