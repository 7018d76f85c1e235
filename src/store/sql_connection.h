// One small interface over the two database engines the store runs on, so
// that loading and the overview are written once. Statements use `?` for
// parameters on both engines; the PostgreSQL side renumbers them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/result.h"

namespace veltrix::store {

enum class Engine { Sqlite, Postgres };

using SqlParam = std::variant<std::nullptr_t, std::int64_t, std::string_view>;

// One result row; a column is absent (nullopt) when it holds NULL.
class SqlRow {
public:
    virtual ~SqlRow() = default;
    virtual std::optional<std::string_view> text(int column) const = 0;
    std::int64_t integer(int column) const;
};

using RowCallback = std::function<void(const SqlRow&)>;

class SqlConnection {
public:
    virtual ~SqlConnection() = default;
    virtual Engine engine() const = 0;
    // Runs one or more statements without parameters or results.
    virtual Status execute(std::string_view sql) = 0;
    // Runs one statement; `onRow` sees each result row as it arrives.
    virtual Status query(std::string_view sql, const std::vector<SqlParam>& params,
                         const RowCallback& onRow = {}) = 0;
    // Appends many rows to one table; the fast path for the bulk of a scan.
    virtual Status insertRows(std::string_view table, const std::vector<std::string_view>& columns,
                              const std::vector<std::vector<SqlParam>>& rows) = 0;
    // Starts a write transaction; on SQLite it takes the write lock at once,
    // so that two writers queue on the busy timeout instead of failing.
    virtual Status beginWrite() = 0;
};

// The first column of the first row, when the statement gives one.
Result<std::optional<std::string>> queryValue(SqlConnection& connection, std::string_view sql,
                                              const std::vector<SqlParam>& params = {});

// Opens a SQLite file. `create` allows making a new file; without it a
// missing file is a failure rather than an empty store.
Result<std::unique_ptr<SqlConnection>> openSqlite(const std::string& path, bool create);
// Connects to PostgreSQL with a postgresql:// URL.
Result<std::unique_ptr<SqlConnection>> openPostgres(const std::string& url);

bool isPostgresUrl(std::string_view target);
// The target as it may be shown in messages: a URL without its password.
std::string displayTarget(std::string_view target);

}  // namespace veltrix::store
