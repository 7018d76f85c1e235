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
    std::string generated;
    std::string makerModel;
    std::string cpu;
    std::string ramTotal;  // "16384 MB"; empty when no module reported a capacity
    std::string disks;     // "model (size); ..."
    std::string os;
    std::int64_t programs = 0;
};

// Lines ordered by machine name.
Result<std::vector<OverviewLine>> readOverview(SqlConnection& connection);

// The page: Windows-1252 with numeric references for other characters and
// CR LF lines, like the reports; machine texts are escaped.
std::string overviewPage(const std::vector<OverviewLine>& lines);
// UTF-8, a header line, CR LF lines, fields quoted where they need it.
std::string overviewCsv(const std::vector<OverviewLine>& lines);

}  // namespace veltrix::store
