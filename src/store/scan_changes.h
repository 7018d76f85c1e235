// What changed on a machine between each scan and the one before it, as the
// compare engine answers it, kept in a table of its own when a scan is
// stored: the machine's history and the fleet's change feed are then reads,
// never a comparison per request.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/result.h"
#include "data/report_compare.h"
#include "store/sql_connection.h"

namespace veltrix::store {

// The table, part of the store's version 2.
std::string ScanChangesTableSql(Engine engine);

// One change as it is stored and shown.
struct ChangeLine {
    std::string section;  // the report's section title: "HDD", "Installed Software"
    // "added", "removed" or "changed" for hardware; "installed", "removed"
    // or "upgraded" for programs; hotfixes are installed and removed too.
    std::string kind;
    std::string caption;  // the item and its identity, or "old → new" for an upgrade
    std::string detail;   // "label: value; ..." of what was added, removed or changed
    bool operator==(const ChangeLine&) const = default;
};

std::vector<ChangeLine> ChangeLinesOf(const data::Comparison& comparison);

// Records the changes of a newly stored scan against the machine's scan
// before it, and those of the scan after it (when the new scan was taken
// before one already stored) against the new one.
Status RecordChangesAround(SqlConnection& connection, std::int64_t scanId);

// Records every scan's changes anew, machine by machine: for a store whose
// machines were just merged.
Status RecordAllChanges(SqlConnection& connection);

}  // namespace veltrix::store
