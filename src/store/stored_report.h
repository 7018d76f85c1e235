// A stored scan read back as a report model from its rows, programs and
// hotfixes: what compare and the report page are made from. The store keeps
// no page text, so this is the only way back to a report.
#pragma once

#include <cstdint>
#include <optional>

#include "core/result.h"
#include "data/report_model.h"
#include "store/sql_connection.h"

namespace veltrix::store {

// Nothing for an unknown scan. Slot entries come back as the Slots section's
// items; sections that left no rows (an empty software or hotfix list) are
// restored at the end, since their place was not kept.
Result<std::optional<data::Report>> ReadStoredReport(SqlConnection& connection, std::int64_t scanId);

}  // namespace veltrix::store
