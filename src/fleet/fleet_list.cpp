#include "fleet/fleet_list.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "fleet/utc_time.h"
#include "store/machine_summary.h"

namespace veltrix::fleet {
namespace {

// The column of machine_summary each list column sorts by: the cell as the
// filter reads it, or the figure for RAM and programs (-1 when unknown).
const char* sortColumn(FleetColumn column) {
    switch (column) {
        case FleetColumn::Name: return "key_name";
        case FleetColumn::HostName: return "key_host";
        case FleetColumn::MakerModel: return "key_model";
        case FleetColumn::Serial: return "key_serial";
        case FleetColumn::Cpu: return "key_cpu";
        case FleetColumn::Ram: return "sort_ram";
        case FleetColumn::Disks: return "key_disks";
        case FleetColumn::Os: return "key_os";
        case FleetColumn::Programs: return "sort_programs";
        case FleetColumn::LastSeen: return "key_seen";
    }
    return "key_name";
}

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

namespace {

// The filter's condition after "FROM machine_summary s", with its texts
// bound after `params`; nothing when there is no text.
std::string filtered(const store::CellsFilter& cells, std::vector<store::SqlParam>& params) {
    if (cells.sql.empty()) return {};
    for (const std::string& text : cells.texts) params.emplace_back(std::string_view(text));
    return cells.tables + " WHERE " + cells.sql;
}

}  // namespace

Result<FleetList> listFleet(store::SqlConnection& connection, const FleetQuery& query, std::time_t now) {
    // Any cell containing the text, in any letter case: the cells are kept
    // lowered beside the machines, and indexed by their substrings.
    const std::string needle = store::ComparableText(query.filter);
    auto cellsFilter = [&](store::CellsLookup lookup) {
        return needle.empty() ? store::CellsFilter{} : store::CellsContainingSql(connection.engine(), needle, lookup);
    };
    const store::CellsFilter indexed = cellsFilter(store::CellsLookup::Indexed);
    const store::CellsFilter rowByRow = cellsFilter(store::CellsLookup::RowByRow);
    FleetList list;
    const std::string staleBefore = storeTime(now - static_cast<std::time_t>(kStaleDays) * 86400);
    auto machines = store::CountSummarisedMachines(connection);
    if (!machines) return machines.failure();
    list.machines = list.matching = *machines;
    if (!needle.empty()) {
        // Counted as far as the page asked for needs, or kFleetCounted.
        constexpr std::size_t kFarthestPage = 1'000'000'000;  // keeps the limit inside a 64-bit LIMIT
        const std::size_t counted = std::max(kFleetCounted, std::min(query.page, kFarthestPage) * kFleetPageSize);
        std::vector<store::SqlParam> params;
        const std::string from = filtered(indexed, params);
        params.emplace_back(static_cast<std::int64_t>(counted + 1));
        auto matching = store::queryValue(
            connection, "SELECT COUNT(*) FROM (SELECT 1 FROM machine_summary s" + from + " LIMIT ?) counted", params);
        if (!matching) return matching.failure();
        list.matching = *matching ? static_cast<std::size_t>(std::stoull(**matching)) : 0;
        list.more = list.matching > counted;
        list.matching = std::min(list.matching, counted);
    }
    // The stale machines among all that match. When they are counted, the
    // filter's few machines are looked at; past the count, the stale ones
    // (few, unless the fleet is long gone) over the index of the times.
    std::vector<store::SqlParam> staleParams;
    std::string staleFrom = filtered(list.more ? rowByRow : indexed, staleParams);
    staleFrom += staleFrom.empty() ? " WHERE " : " AND ";
    staleParams.emplace_back(std::string_view(staleBefore));
    auto stale = store::queryValue(
        connection, "SELECT COUNT(*) FROM machine_summary s" + staleFrom + "s.last_seen > '' AND s.last_seen < ?",
        staleParams);
    if (!stale) return stale.failure();
    list.stale = *stale ? static_cast<std::size_t>(std::stoull(**stale)) : 0;
    list.pages = std::max<std::size_t>(1, (list.matching + kFleetPageSize - 1) / kFleetPageSize);
    list.page = std::min(query.page, list.pages);
    // The column decides; machines equal in it stay in the order they were
    // first seen whichever way the column goes.
    const std::string order = std::string(" ORDER BY s.") + sortColumn(query.sort) +
                              (query.descending ? " DESC" : "") + ", s.machine_id LIMIT ? OFFSET ?";
    // Given the index's machines, SQLite sorts them all for the page. When
    // more match than were counted, the sort column's index, walked with each
    // summary compared, reaches the page's machines within a few of their
    // shares of the fleet instead. PostgreSQL weighs the two itself.
    const bool walk = list.more && connection.engine() == store::Engine::Sqlite;
    std::vector<store::SqlParam> params;
    const std::string from = filtered(walk ? rowByRow : indexed, params);
    params.emplace_back(static_cast<std::int64_t>(kFleetPageSize));
    params.emplace_back(static_cast<std::int64_t>((list.page - 1) * kFleetPageSize));
    Status status = connection.query(
        "SELECT " + store::OverviewColumnsSql() + " FROM machine_summary s" + from + order, params,
        [&](const store::SqlRow& row) {
            FleetLine entry{store::OverviewLineOf(row), false};
            entry.stale = !entry.line.lastSeen.empty() && entry.line.lastSeen < staleBefore;
            list.lines.push_back(std::move(entry));
        });
    if (!status.ok()) return status.failure;
    return list;
}

}  // namespace veltrix::fleet
