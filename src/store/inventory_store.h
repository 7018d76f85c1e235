// The fleet store: many machines' reports in one SQL database that any SQL
// tool can query. One schema on SQLite (a file, the default) and PostgreSQL
// (a central server), versioned, loaded idempotently by a digest of each
// input's content.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/result.h"
#include "data/report_model.h"
#include "store/sql_connection.h"

namespace veltrix::store {

// The schema version this program writes. A store with a higher number was
// made by a newer program and is refused, never touched.
inline constexpr int kSchemaVersion = 1;

// Failure numbers: the store cannot be reached or is not one we may use, or
// a statement failed inside a usable store.
inline constexpr std::int32_t kStoreUnusable = 2;
inline constexpr std::int32_t kStoreStatementFailed = 1;

enum class OpenMode { CreateOrUpgrade, Existing };

enum class AddOutcome { Added, AlreadyPresent };

class InventoryStore {
public:
    // `target` is a SQLite file path or a postgresql:// URL. Failures carry
    // kStoreUnusable and a message naming the store (without a password).
    static Result<std::unique_ptr<InventoryStore>> open(const std::string& target, OpenMode mode);
    // Over an open connection (tests hand in their own).
    static Result<std::unique_ptr<InventoryStore>> open(std::unique_ptr<SqlConnection> connection,
                                                        const std::string& display, OpenMode mode);

    // A batch is one transaction; a scan added inside it is whole or absent
    // even when the process dies.
    Status beginBatch();
    Status commitBatch();
    void rollbackBatch();

    Result<bool> contains(std::string_view digest);
    // Inside a batch. A failure leaves the batch usable: only this scan is
    // rolled back.
    Result<AddOutcome> add(const data::Report& report, std::string_view digest, std::string_view source);

    SqlConnection& connection() { return *connection_; }

private:
    InventoryStore(std::unique_ptr<SqlConnection> connection, std::string display)
        : connection_(std::move(connection)), display_(std::move(display)) {}
    Status prepareSchema(OpenMode mode);
    Status insertScan(const data::Report& report, std::int64_t scanId);

    std::unique_ptr<SqlConnection> connection_;
    std::string display_;
};

// "08-December-2026 17:33" (English or German month names) as
// "2026-12-08 17:33", so that scans order by time; empty when the text has
// another form.
std::string sortableGenerated(std::string_view generated);

}  // namespace veltrix::store
