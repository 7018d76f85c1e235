// The fleet as the console lists it: one line per machine from its newest
// scan, filtered by text, sorted by any column and cut into pages, with the
// counts a reader wants at the top.
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

#include "core/result.h"
#include "store/fleet_overview.h"
#include "store/sql_connection.h"

namespace veltrix::fleet {

inline constexpr std::size_t kFleetPageSize = 100;
inline constexpr int kStaleDays = 30;
// A filter's matches are counted up to this many, or up to the page asked
// for when it lies further: a text that a share of the fleet holds would
// otherwise cost a read of every one of those machines per page, for a
// figure the page can give as "more than".
inline constexpr std::size_t kFleetCounted = 1000;

// The sortable columns, in the order the page shows them.
enum class FleetColumn { Name, HostName, MakerModel, Serial, Cpu, Ram, Disks, Os, Programs, LastSeen };
struct FleetColumnInfo {
    FleetColumn column;
    const char* key;    // in links and the API: "?sort=ram"
    const char* title;  // the column's heading
};
const std::vector<FleetColumnInfo>& fleetColumns();

struct FleetQuery {
    std::string filter;  // any column containing it, case-insensitively; empty: all
    FleetColumn sort = FleetColumn::Name;
    bool descending = false;
    std::size_t page = 1;  // from 1
};

// From "?q=...&sort=...&order=desc&page=N"; unknown values fall back to the defaults.
FleetQuery fleetQueryFrom(const std::string& filter, const std::string& sort, const std::string& order,
                          const std::string& page);

struct FleetLine {
    store::OverviewLine line;
    bool stale = false;  // not seen for kStaleDays days (unknown times are not counted)
};

struct FleetList {
    std::size_t machines = 0;  // in the fleet
    std::size_t matching = 0;  // after the filter, as far as counted
    bool more = false;         // more than `matching` match, and more pages follow `pages`
    std::size_t stale = 0;     // of all those matching
    std::size_t page = 1, pages = 1;
    std::vector<FleetLine> lines;  // this page
};

Result<FleetList> listFleet(store::SqlConnection& connection, const FleetQuery& query, std::time_t now);

// The text a cell shows, also what the filter looks in and CSV holds.
std::string fleetCell(const store::OverviewLine& line, FleetColumn column);

}  // namespace veltrix::fleet
