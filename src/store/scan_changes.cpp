#include "store/scan_changes.h"

#include <optional>

#include "core/ascii.h"
#include "store/inventory_store.h"
#include "store/stored_report.h"

namespace veltrix::store {
namespace {

constexpr std::string_view kArrow = " \xE2\x86\x92 ";  // →

bool isProgramSection(std::string_view title) { return title == "Installed Software"; }
bool isInstalledSection(std::string_view title) { return isProgramSection(title) || title == "Hotfix"; }

bool listsPrograms(const data::Report& report) {
    for (const auto& section : report.sections) {
        if (isProgramSection(section.title)) return true;
    }
    return false;
}

std::string trimmed(std::string_view text) { return std::string(trimView(text)); }

std::string rowsText(const std::vector<data::Row>& rows) {
    std::string text;
    for (const auto& row : rows) {
        const std::string value = trimmed(row.value);
        if (value.empty()) continue;
        text += (text.empty() ? "" : "; ") + trimmed(row.label) + ": " + value;
    }
    return text;
}

std::string changesText(const std::vector<data::RowChange>& changes) {
    std::string text;
    for (const auto& change : changes) {
        text += (text.empty() ? "" : "; ") + trimmed(change.label) + ": " +
                (change.before ? trimmed(*change.before) : "(none)") + std::string(kArrow) +
                (change.after ? trimmed(*change.after) : "(none)");
    }
    return text;
}

// Where the scan sits in its machine's history: the scans just before and
// after it, in the order the store's "latest" uses.
struct Neighbours {
    std::int64_t machineId = 0;
    std::string takenAt;
    std::optional<std::int64_t> before, after;
};

Result<std::optional<Neighbours>> neighboursOf(SqlConnection& connection, std::int64_t scanId) {
    std::optional<Neighbours> found;
    Status status = connection.query("SELECT machine_id, generated_at FROM scans WHERE id = ?", {scanId},
                                     [&](const SqlRow& row) {
                                         found = Neighbours{row.integer(0), std::string(row.text(1).value_or(""))};
                                     });
    if (!status.ok()) return status.failure;
    if (!found) return found;
    const std::string_view at = found->takenAt;
    status = connection.query(
        "SELECT id FROM scans WHERE machine_id = ? AND (generated_at < ? OR (generated_at = ? AND id < ?)) "
        "ORDER BY generated_at DESC, id DESC LIMIT 1",
        {found->machineId, at, at, scanId}, [&](const SqlRow& row) { found->before = row.integer(0); });
    if (!status.ok()) return status.failure;
    status = connection.query(
        "SELECT id FROM scans WHERE machine_id = ? AND (generated_at > ? OR (generated_at = ? AND id > ?)) "
        "ORDER BY generated_at, id LIMIT 1",
        {found->machineId, at, at, scanId}, [&](const SqlRow& row) { found->after = row.integer(0); });
    if (!status.ok()) return status.failure;
    return found;
}

Result<data::Report> reportOf(SqlConnection& connection, std::int64_t scanId) {
    auto report = ReadStoredReport(connection, scanId);
    if (!report) return report.failure();
    if (!*report) return Failure{kStoreStatementFailed, "scan " + std::to_string(scanId) + " is not stored"};
    return std::move(**report);
}

// Replaces what is stored for `scanId` by its changes since `previous`.
Status replaceChanges(SqlConnection& connection, std::int64_t scanId, std::int64_t previous,
                      std::string_view takenAt, const data::Report& before, const data::Report& after) {
    if (Status status = connection.query("DELETE FROM scan_changes WHERE scan_id = ?", {scanId}); !status.ok()) {
        return status;
    }
    const std::vector<ChangeLine> lines = ChangeLinesOf(data::CompareReports(before, after));
    // A scan made with the software inventory switched off knows no
    // programs: that is no sign of them being installed or removed.
    const bool bothListPrograms = listsPrograms(before) && listsPrograms(after);
    std::vector<std::vector<SqlParam>> rows;
    for (const auto& line : lines) {
        if (isProgramSection(line.section) && !bothListPrograms) continue;
        rows.push_back({scanId, previous, takenAt, std::string_view(line.section), std::string_view(line.kind),
                        std::string_view(line.caption), std::string_view(line.detail)});
    }
    return connection.insertRows("scan_changes",
                                 {"scan_id", "previous_scan_id", "taken_at", "section", "kind", "caption", "detail"},
                                 rows);
}

Result<std::string> takenAtOf(SqlConnection& connection, std::int64_t scanId) {
    auto value = queryValue(connection, "SELECT generated_at FROM scans WHERE id = ?", {scanId});
    if (!value) return value.failure();
    return value->value_or("");
}

}  // namespace

std::string ScanChangesTableSql(Engine engine) {
    const bool sqlite = engine == Engine::Sqlite;
    const std::string key = sqlite ? "INTEGER PRIMARY KEY" : "BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY";
    const std::string ref = sqlite ? "INTEGER" : "BIGINT";
    // taken_at repeats the scan's generated_at so that the fleet's changes
    // come newest first from an index, without visiting every scan.
    return "CREATE TABLE scan_changes (id " + key + ",\n"
           "  scan_id " + ref + " NOT NULL REFERENCES scans(id) ON DELETE CASCADE,\n"
           "  previous_scan_id " + ref + " NOT NULL REFERENCES scans(id) ON DELETE CASCADE,\n"
           "  taken_at TEXT NOT NULL,\n"
           "  section TEXT NOT NULL,\n"
           "  kind TEXT NOT NULL,\n"
           "  caption TEXT NOT NULL,\n"
           "  detail TEXT NOT NULL);\n"
           "CREATE INDEX scan_changes_by_scan ON scan_changes (scan_id);\n"
           "CREATE INDEX scan_changes_by_time ON scan_changes (taken_at, id);\n"
           "CREATE INDEX scan_changes_by_section ON scan_changes (section, taken_at, id);\n";
}

std::vector<ChangeLine> ChangeLinesOf(const data::Comparison& comparison) {
    std::vector<ChangeLine> lines;
    for (const auto& section : comparison.sections) {
        const bool installed = isInstalledSection(section.title);
        for (const auto& item : section.removed) {
            lines.push_back({section.title, "removed", item.caption, rowsText(item.rows)});
        }
        for (const auto& item : section.added) {
            lines.push_back({section.title, installed ? "installed" : "added", item.caption, rowsText(item.rows)});
        }
        for (const auto& item : section.changed) {
            if (isProgramSection(section.title) && item.changes.size() == 1 && item.changes[0].label == "Version") {
                // The same name in another version: an upgrade as well.
                const auto& change = item.changes[0];
                const std::string name = trimmed(item.caption);
                auto side = [&](const std::optional<std::string>& version) {
                    const std::string v = version ? trimmed(*version) : std::string();
                    return v.empty() ? name : name + " " + v;
                };
                lines.push_back({section.title, "upgraded", side(change.before) + std::string(kArrow) + side(change.after), ""});
                continue;
            }
            lines.push_back({section.title, "changed", item.caption, changesText(item.changes)});
        }
        for (const auto& item : section.upgraded) lines.push_back({section.title, "upgraded", item.text, ""});
    }
    return lines;
}

Status RecordChangesAround(SqlConnection& connection, std::int64_t scanId) {
    auto place = neighboursOf(connection, scanId);
    if (!place) return place.failure();
    if (!*place) return Failure{kStoreStatementFailed, "scan " + std::to_string(scanId) + " is not stored"};
    const Neighbours& n = **place;
    if (!n.before && !n.after) return {};
    auto scan = reportOf(connection, scanId);
    if (!scan) return scan.failure();
    if (n.before) {
        auto before = reportOf(connection, *n.before);
        if (!before) return before.failure();
        Status status = replaceChanges(connection, scanId, *n.before, n.takenAt, *before, *scan);
        if (!status.ok()) return status;
    }
    if (n.after) {
        auto after = reportOf(connection, *n.after);
        if (!after) return after.failure();
        auto afterTaken = takenAtOf(connection, *n.after);
        if (!afterTaken) return afterTaken.failure();
        Status status = replaceChanges(connection, *n.after, scanId, *afterTaken, *scan, *after);
        if (!status.ok()) return status;
    }
    return {};
}

Status RecordAllChanges(SqlConnection& connection) {
    struct ScanOrder {
        std::int64_t id, machineId;
        std::string takenAt;
    };
    std::vector<ScanOrder> scans;
    Status status = connection.query("SELECT id, machine_id, generated_at FROM scans ORDER BY machine_id, generated_at, id",
                                     {}, [&](const SqlRow& row) {
                                         scans.push_back({row.integer(0), row.integer(1),
                                                          std::string(row.text(2).value_or(""))});
                                     });
    if (!status.ok()) return status;
    if (status = connection.execute("DELETE FROM scan_changes"); !status.ok()) return status;
    std::optional<data::Report> previous;
    for (std::size_t i = 0; i < scans.size(); ++i) {
        auto report = reportOf(connection, scans[i].id);
        if (!report) return report.failure();
        if (i > 0 && scans[i - 1].machineId == scans[i].machineId && previous) {
            status = replaceChanges(connection, scans[i].id, scans[i - 1].id, scans[i].takenAt, *previous, *report);
            if (!status.ok()) return status;
        }
        previous = std::move(*report);
    }
    return {};
}

}  // namespace veltrix::store
