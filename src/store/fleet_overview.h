// One line per machine from the newest scan of each: what a technician wants
// to see of a fleet at a glance, as a page in the report's style or as CSV.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/result.h"
#include "store/sql_connection.h"

namespace veltrix::store {

struct OverviewLine {
    std::string machine;
    std::string generated;  // empty when the scan does not say when it was taken
    std::string makerModel;
    std::string cpu;
    std::string ramTotal;  // "16384 MB"; empty when no module reported a capacity
    std::string disks;     // "model (size); ..."
    std::string os;
    std::int64_t programs = 0;
    std::string serial;  // the machine's enclosure, else board, else BIOS serial
    std::int64_t scans = 0;
    // False when the newest scan left the software out (--no-software): its
    // program count is unknown, not zero.
    bool programsCollected = true;
    // "possible clone" when another machine shows the same UUID with another
    // serial.
    std::string flags;
    std::int64_t machineId = 0;
    std::string hostName;  // as the newest scan reported it
    std::string lastSeen;  // when the newest scan was taken, UTC
};

// Lines ordered by machine name.
Result<std::vector<OverviewLine>> readOverview(SqlConnection& connection);

// The columns of machine_summary (as `s`) that make a line, and the line
// from a row of them: for lists that choose and order the lines themselves.
std::string OverviewColumnsSql();
OverviewLine OverviewLineOf(const SqlRow& row);

// The page: Windows-1252 with numeric references for other characters and
// CR LF lines, like the reports; machine texts are escaped.
std::string overviewPage(const std::vector<OverviewLine>& lines);
// UTF-8, a header line, CR LF lines, fields quoted where they need it.
std::string overviewCsv(const std::vector<OverviewLine>& lines);

}  // namespace veltrix::store
