// The store's tables on each engine, and how a store's version is read.
#pragma once

#include <optional>
#include <string>

#include "core/result.h"
#include "store/sql_connection.h"

namespace veltrix::store {

// What a database holds before we touch it.
struct SchemaState {
    std::optional<int> version;  // from store_info; none when there is no store yet
    bool foreignTables = false;  // tables with our names that we did not make
};

Result<SchemaState> readSchemaState(SqlConnection& connection);

// Statements that bring a store from `fromVersion` (0: empty database) to
// the next version.
std::string upgradeSql(Engine engine, int fromVersion);

}  // namespace veltrix::store
