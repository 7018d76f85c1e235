// SQLite side of the store: WAL journal and a long busy timeout so that
// several `store add` processes can share one file, prepared statements kept
// for the life of the connection.
#include <sqlite3.h>

#include <charconv>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "store/sql_connection.h"

namespace veltrix::store {
namespace {

// Long enough for another process to finish a batch of inputs.
constexpr int kBusyTimeoutMs = 120000;
constexpr int kBusyRetryMs = 10;

Failure sqliteFailure(sqlite3* db, std::string_view what) {
    std::string text(what);
    text += ": ";
    text += db ? sqlite3_errmsg(db) : "out of memory";
    return Failure{failure_code::kFileError, text};
}

class SqliteRow final : public SqlRow {
public:
    explicit SqliteRow(sqlite3_stmt* statement) : statement_(statement) {}
    std::optional<std::string_view> text(int column) const override {
        if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        int size = sqlite3_column_bytes(statement_, column);
        return std::string_view(bytes ? bytes : "", static_cast<std::size_t>(size));
    }

private:
    sqlite3_stmt* statement_;
};

class SqliteConnection final : public SqlConnection {
public:
    explicit SqliteConnection(sqlite3* db) : db_(db) {}
    ~SqliteConnection() override {
        for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
        sqlite3_close_v2(db_);
    }

    Engine engine() const override { return Engine::Sqlite; }

    Status execute(std::string_view sql) override {
        char* message = nullptr;
        std::string text(sql);
        if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            Failure failure{failure_code::kFileError, message ? message : sqlite3_errmsg(db_)};
            sqlite3_free(message);
            return failure;
        }
        return {};
    }

    Status query(std::string_view sql, const std::vector<SqlParam>& params,
                 const RowCallback& onRow) override {
        auto prepared = prepare(sql);
        if (!prepared) return prepared.failure();
        sqlite3_stmt* statement = *prepared;
        if (Status bound = bind(statement, params); !bound.ok()) return bound;
        SqliteRow row(statement);
        int code;
        while ((code = sqlite3_step(statement)) == SQLITE_ROW) {
            if (onRow) onRow(row);
        }
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
        if (code != SQLITE_DONE) return sqliteFailure(db_, "the store refused a statement");
        return {};
    }

    Status insertRows(std::string_view table, const std::vector<std::string_view>& columns,
                      const std::vector<std::vector<SqlParam>>& rows) override {
        std::string sql = "INSERT INTO " + std::string(table) + " (";
        std::string marks;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            sql += (i ? ", " : "") + std::string(columns[i]);
            marks += i ? ", ?" : "?";
        }
        sql += ") VALUES (" + marks + ")";
        for (const auto& row : rows) {
            if (Status status = query(sql, row, {}); !status.ok()) return status;
        }
        return {};
    }

    Status beginWrite() override { return execute("BEGIN IMMEDIATE"); }

private:
    Result<sqlite3_stmt*> prepare(std::string_view sql) {
        std::string key(sql);
        if (auto found = statements_.find(key); found != statements_.end()) return found->second;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, key.c_str(), static_cast<int>(key.size()), &statement, nullptr) !=
            SQLITE_OK) {
            return sqliteFailure(db_, "the store refused a statement");
        }
        statements_.emplace(std::move(key), statement);
        return statement;
    }

    Status bind(sqlite3_stmt* statement, const std::vector<SqlParam>& params) {
        for (std::size_t i = 0; i < params.size(); ++i) {
            int index = static_cast<int>(i) + 1;
            int code = SQLITE_OK;
            if (const auto* number = std::get_if<std::int64_t>(&params[i])) {
                code = sqlite3_bind_int64(statement, index, *number);
            } else if (const auto* text = std::get_if<std::string_view>(&params[i])) {
                code = sqlite3_bind_text64(statement, index, text->data(), text->size(), SQLITE_TRANSIENT,
                                           SQLITE_UTF8);
            } else {
                code = sqlite3_bind_null(statement, index);
            }
            if (code != SQLITE_OK) return sqliteFailure(db_, "cannot pass a value to the store");
        }
        return {};
    }

    sqlite3* db_;
    std::map<std::string, sqlite3_stmt*, std::less<>> statements_;
};

}  // namespace

Result<std::unique_ptr<SqlConnection>> openSqlite(const std::string& path, bool create) {
    std::error_code ignored;
    if (!create && !std::filesystem::exists(path, ignored)) {
        return Failure{failure_code::kFileError, "there is no store at " + path};
    }
    sqlite3* db = nullptr;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        Failure failure = sqliteFailure(db, "cannot open the store " + path);
        sqlite3_close_v2(db);
        return failure;
    }
    auto connection = std::make_unique<SqliteConnection>(db);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // WAL lets readers go on while one process writes, and a process killed
    // mid-transaction leaves only an uncommitted tail that the next opener
    // discards. A file that is not a database fails here, before anything
    // is written to it.
    // Two processes opening a new store at the same instant: the switch to
    // WAL takes the file for a moment, and the other is told "busy" without
    // the busy handler being asked. It waits and tries again, as long as the
    // busy timeout allows.
    Status status;
    for (int waited = 0;; waited += kBusyRetryMs) {
        status = connection->execute("PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON");
        const int code = sqlite3_errcode(db) & 0xFF;
        if (status.ok() || (code != SQLITE_BUSY && code != SQLITE_LOCKED) || waited >= kBusyTimeoutMs) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(kBusyRetryMs));
    }
    if (!status.ok()) {
        return Failure{failure_code::kFileError, "cannot open the store " + path + ": " +
                                                     status.failure.description};
    }
    return std::unique_ptr<SqlConnection>(std::move(connection));
}

std::int64_t SqlRow::integer(int column) const {
    auto value = text(column);
    std::int64_t number = 0;
    if (value) std::from_chars(value->data(), value->data() + value->size(), number);
    return number;
}

Result<std::optional<std::string>> queryValue(SqlConnection& connection, std::string_view sql,
                                              const std::vector<SqlParam>& params) {
    std::optional<std::string> value;
    bool seen = false;
    Status status = connection.query(sql, params, [&](const SqlRow& row) {
        if (seen) return;
        seen = true;
        if (auto text = row.text(0)) value = std::string(*text);
    });
    if (!status.ok()) return status.failure;
    return value;
}

}  // namespace veltrix::store
