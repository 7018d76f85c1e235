// The fleet store: many machines' reports in one SQL database that any SQL
// tool can query. One schema on SQLite (a file, the default) and PostgreSQL
// (a central server), versioned, loaded idempotently by a digest of each
// input's content.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"
#include "data/report_model.h"
#include "store/sql_connection.h"

namespace veltrix::store {

// The schema version this program writes. A store with a higher number was
// made by a newer program and is refused, never touched.
inline constexpr int kSchemaVersion = 4;

// Failure numbers: the store cannot be reached or is not one we may use, or
// a statement failed inside a usable store.
inline constexpr std::int32_t kStoreUnusable = 2;
inline constexpr std::int32_t kStoreStatementFailed = 1;

enum class OpenMode { CreateOrUpgrade, Existing };

enum class AddOutcome { Added, AlreadyPresent };

struct AddOptions {
    // The enrolled agent that sent the scan: it identifies the machine first.
    std::optional<std::string> agentId;
};

struct AddResult {
    AddOutcome outcome = AddOutcome::Added;
    std::int64_t scanId = 0;
    std::int64_t machineId = 0;
    // How the machine was recognised: "agent", "uuid", "serial", "name", or
    // "new" for a machine seen for the first time.
    std::string matchedBy;
};

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
    // The scan goes to the machine its hardware says (see machine_matching.h).
    Result<AddResult> addScan(const data::Report& report, std::string_view digest, std::string_view source,
                              const AddOptions& options = {});
    Result<AddOutcome> add(const data::Report& report, std::string_view digest, std::string_view source);

    SqlConnection& connection() { return *connection_; }

private:
    InventoryStore(std::unique_ptr<SqlConnection> connection, std::string display)
        : connection_(std::move(connection)), display_(std::move(display)) {}
    Status prepareSchema(OpenMode mode);
    Status insertScan(const data::Report& report, std::int64_t scanId);
    // Version 1 kept one machine per designation: every scan is matched
    // again by the identity its rows show, merging what the name split.
    Status mergeMachinesByHardware();

    std::unique_ptr<SqlConnection> connection_;
    std::string display_;
};

// "08-December-2026 17:33" (English or German month names) as
// "2026-12-08 17:33", so that scans order by time; empty when the text has
// another form.
std::string sortableGenerated(std::string_view generated);

// When the scan was taken, as it sorts in scans.generated_at: a snapshot's
// taken-at as its local time "2026-12-08 17:33:05", else the page's own
// time; empty (the oldest) when unknown.
std::string scanTimeOf(const data::Report& report);

}  // namespace veltrix::store
