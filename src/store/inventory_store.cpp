#include "store/inventory_store.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <map>
#include <set>

#include "core/timestamp.h"
#include "data/report_identity.h"
#include "store/machine_matching.h"
#include "store/machine_summary.h"
#include "store/scan_changes.h"
#include "store/store_schema.h"

namespace veltrix::store {
namespace {

Failure unusable(const std::string& display, const std::string& what) {
    return Failure{kStoreUnusable, "the store " + display + " " + what};
}

// Slot table columns as the report labels them.
constexpr std::string_view kSlotTag = "Tag";
constexpr std::string_view kSlotDesignation = "Slot Description";
constexpr std::string_view kSlotUsage = "Belegung";

// NULL for a value the scan did not show.
SqlParam optionalText(const std::optional<std::string>& text) {
    if (!text) return nullptr;
    return std::string_view(*text);
}

// The physical adapters' addresses as the scans table keeps them.
std::string joinedMacs(const MachineIdentity& identity) {
    std::string macs;
    for (const auto& mac : identity.macs) macs += (macs.empty() ? "" : " ") + mac;
    return macs;
}

// A scan without the software section was made with the software inventory
// switched off: its program count is unknown, not zero.
bool SoftwareWasCollected(const data::Report& report) {
    if (!report.software.empty()) return true;
    for (const auto& section : report.sections) {
        if (section.title == "Installed Software") return true;
    }
    return false;
}

}  // namespace

Result<std::unique_ptr<InventoryStore>> InventoryStore::open(const std::string& target, OpenMode mode) {
    std::string display = displayTarget(target);
    auto connection = isPostgresUrl(target) ? openPostgres(target)
                                            : openSqlite(target, mode == OpenMode::CreateOrUpgrade);
    if (!connection) return Failure{kStoreUnusable, connection.failure().description};
    return open(std::move(*connection), display, mode);
}

Result<std::unique_ptr<InventoryStore>> InventoryStore::open(std::unique_ptr<SqlConnection> connection,
                                                             const std::string& display, OpenMode mode) {
    std::unique_ptr<InventoryStore> store(new InventoryStore(std::move(connection), display));
    if (Status status = store->prepareSchema(mode); !status.ok()) return status.failure;
    return store;
}

Status InventoryStore::prepareSchema(OpenMode mode) {
    auto check = [&](const SchemaState& state) -> Status {
        if (state.foreignTables) {
            return unusable(display_, "holds tables named like the store's that Veltrix did not make; "
                                      "nothing was changed");
        }
        if (state.version && *state.version > kSchemaVersion) {
            return unusable(display_, "was made by a newer Veltrix (store version " +
                                          std::to_string(*state.version) + ", this program knows up to " +
                                          std::to_string(kSchemaVersion) + "); nothing was changed");
        }
        if (!state.version && mode == OpenMode::Existing) {
            return unusable(display_, "holds no Veltrix inventory yet; load reports with \"store add\"");
        }
        return {};
    };
    auto state = readSchemaState(*connection_);
    if (!state) return unusable(display_, "cannot be read: " + state.failure().description);
    if (Status status = check(*state); !status.ok()) return status;
    if (state->version == kSchemaVersion || mode == OpenMode::Existing) {
        if (state->version < kSchemaVersion && mode == OpenMode::Existing) {
            return unusable(display_, "has store version " + std::to_string(*state->version) +
                                          "; run \"store add\" once to upgrade it");
        }
        return {};
    }
    // Create or upgrade under the write lock, reading the version again:
    // another process may have done it meanwhile.
    if (Status status = connection_->beginWrite(); !status.ok()) {
        return unusable(display_, "cannot be written: " + status.failure.description);
    }
    Status result;
    if (connection_->engine() == Engine::Postgres) {
        result = connection_->execute("SELECT pg_advisory_xact_lock(7361002)");
    }
    if (result.ok()) {
        auto again = readSchemaState(*connection_);
        if (!again) result = again.failure();
        else result = check(*again);
        const int from = again && again->version ? *again->version : 0;
        for (int version = from; result.ok() && version < kSchemaVersion; ++version) {
            // A step may change nothing on one engine.
            const std::string sql = upgradeSql(connection_->engine(), version);
            if (!sql.empty()) result = connection_->execute(sql);
            if (result.ok() && version == 1) result = mergeMachinesByHardware();
            if (result.ok() && version == 1) result = RecordAllChanges(*connection_);
            if (result.ok() && version > 0) {
                result = connection_->query("UPDATE store_info SET value = ? WHERE key = 'schema_version'",
                                            {std::int64_t{version + 1}});
            }
        }
        // Made once every table they fill exists: a store from before
        // version 3 has scans but no summaries.
        if (result.ok() && from > 0 && from < 3) result = RefreshAllMachineSummaries(*connection_);
    }
    if (result.ok()) result = connection_->execute("COMMIT");
    if (!result.ok()) {
        connection_->execute("ROLLBACK");
        if (result.failure.number == kStoreUnusable) return result;
        return unusable(display_, "could not be prepared: " + result.failure.description);
    }
    return {};
}

Status InventoryStore::beginBatch() { return connection_->beginWrite(); }
Status InventoryStore::commitBatch() { return connection_->execute("COMMIT"); }
void InventoryStore::rollbackBatch() { connection_->execute("ROLLBACK"); }

Result<bool> InventoryStore::contains(std::string_view digest) {
    auto found = queryValue(*connection_, "SELECT id FROM scans WHERE digest = ?", {digest});
    if (!found) return found.failure();
    return found->has_value();
}

Result<AddOutcome> InventoryStore::add(const data::Report& report, std::string_view digest,
                                       std::string_view source) {
    auto added = addScan(report, digest, source);
    if (!added) return added.failure();
    return added->outcome;
}

Result<AddResult> InventoryStore::addScan(const data::Report& report, std::string_view digest,
                                          std::string_view source, const AddOptions& options) {
    auto present = [&]() -> Result<std::optional<AddResult>> {
        std::optional<AddResult> found;
        Status status = connection_->query("SELECT id, machine_id, matched_by FROM scans WHERE digest = ?", {digest},
                                           [&](const SqlRow& row) {
                                               found = AddResult{AddOutcome::AlreadyPresent, row.integer(0),
                                                                 row.integer(1), std::string(row.text(2).value_or(""))};
                                           });
        if (!status.ok()) return status.failure;
        return found;
    };
    auto already = present();
    if (!already) return already.failure();
    if (*already) return **already;

    if (Status status = connection_->execute("SAVEPOINT one_scan"); !status.ok()) return status.failure;
    auto fail = [&](Failure failure) -> Result<AddResult> {
        connection_->execute("ROLLBACK TO SAVEPOINT one_scan; RELEASE SAVEPOINT one_scan");
        failure.number = kStoreStatementFailed;
        return failure;
    };
    // Two loaders deciding at once could each make the same new machine;
    // on a shared server they take turns until their transactions end.
    if (connection_->engine() == Engine::Postgres) {
        if (Status status = connection_->execute("SELECT pg_advisory_xact_lock(7361003)"); !status.ok()) {
            return fail(status.failure);
        }
    }
    const MachineIdentity identity = UsableIdentity(report.machine);
    const ScanKeys keys = KeysOf(identity, report.name, options.agentId);
    auto match = FindMachine(*connection_, keys);
    if (!match) return fail(match.failure());
    std::int64_t machineId = 0;
    if (match->machineId) {
        machineId = *match->machineId;
    } else {
        auto made = queryValue(*connection_, "INSERT INTO machines (name) VALUES (?) RETURNING id",
                               {std::string_view(report.name)});
        if (!made) return fail(made.failure());
        if (!*made) return fail(Failure{1, "the machine was not recorded"});
        machineId = std::stoll(**made);
    }
    const std::string macs = joinedMacs(identity);
    const std::string generatedAt = scanTimeOf(report);
    const std::int64_t softwareCollected = SoftwareWasCollected(report) ? 1 : 0;
    auto scan = queryValue(
        *connection_,
        "INSERT INTO scans (machine_id, generated, generated_at, source, digest, comment, version, designation, "
        "matched_by, taken_at, host_name, uuid, enclosure_serial, board_serial, bios_serial, macs, agent_id, "
        "software_collected) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
        "ON CONFLICT (digest) DO NOTHING RETURNING id",
        {machineId, report.timeKnown ? std::string_view(report.generated) : std::string_view(""), std::string_view(generatedAt), source, digest,
         std::string_view(report.comment), std::string_view(report.version), std::string_view(report.name),
         std::string_view(match->matchedBy), std::string_view(report.takenAt), optionalText(identity.hostName),
         optionalText(identity.uuid), optionalText(identity.enclosureSerial), optionalText(identity.boardSerial),
         optionalText(identity.biosSerial), std::string_view(macs), optionalText(options.agentId),
         softwareCollected});
    if (!scan) return fail(scan.failure());
    if (!*scan) {
        // Another loader stored the same input meanwhile: its scan stands,
        // and a machine made for this one goes again.
        connection_->execute("ROLLBACK TO SAVEPOINT one_scan; RELEASE SAVEPOINT one_scan");
        auto theirs = present();
        if (!theirs) return theirs.failure();
        if (*theirs) return **theirs;
        return Failure{kStoreStatementFailed, "the scan was neither stored nor found"};
    }
    const std::int64_t scanId = std::stoll(**scan);
    if (Status status = insertScan(report, scanId); !status.ok()) return fail(status.failure);
    if (Status status = RecordMachineKeys(*connection_, machineId, keys, *match); !status.ok()) {
        return fail(status.failure);
    }
    if (Status status = RefreshMachine(*connection_, machineId); !status.ok()) return fail(status.failure);
    if (Status status = RefreshMachineSummary(*connection_, machineId); !status.ok()) return fail(status.failure);
    if (Status status = RecordChangesAround(*connection_, scanId); !status.ok()) return fail(status.failure);
    if (Status status = connection_->execute("RELEASE SAVEPOINT one_scan"); !status.ok()) {
        return fail(status.failure);
    }
    return AddResult{AddOutcome::Added, scanId, machineId, match->matchedBy};
}

Status InventoryStore::mergeMachinesByHardware() {
    // What each scan's rows show of its identity, gathered in one pass.
    struct ScanRow {
        std::int64_t id, machineId;
        std::string designation;
        data::Report shown;
    };
    std::vector<ScanRow> scans;
    std::map<std::int64_t, std::size_t> byId;
    Status status = connection_->query(
        "SELECT id, machine_id, designation FROM scans ORDER BY generated_at, id", {}, [&](const SqlRow& row) {
            byId[row.integer(0)] = scans.size();
            scans.push_back({row.integer(0), row.integer(1), std::string(row.text(2).value_or("")), {}});
        });
    if (!status.ok()) return status;
    status = connection_->query(
        "SELECT scan_id, section, item, label, value FROM \"rows\" WHERE "
        "(section = 'Systeminformation' AND label = 'Serial Number') OR "
        "(section = 'Motherboard' AND label = 'BaseBoard Serial') OR (section = 'Bios' AND label = 'SerialNumber') OR "
        "(section = 'Networkdevices' AND label IN ('Mac-Address', 'PNPDeviceID')) ORDER BY scan_id, position",
        {}, [&](const SqlRow& row) {
            auto found = byId.find(row.integer(0));
            if (found == byId.end()) return;
            data::Report& shown = scans[found->second].shown;
            std::string section(row.text(1).value_or(""));
            std::int64_t item = row.integer(2);
            if (shown.sections.empty() || shown.sections.back().title != section) {
                shown.sections.push_back({section, {}, std::nullopt});
            }
            auto& items = shown.sections.back().items;
            while (static_cast<std::int64_t>(items.size()) <= item) items.emplace_back();
            items[static_cast<std::size_t>(item)].rows.push_back(
                {std::string(row.text(3).value_or("")), std::string(row.text(4).value_or(""))});
        });
    if (!status.ok()) return status;
    std::set<std::int64_t> claimed;
    std::set<std::int64_t> touched;
    for (const ScanRow& scan : scans) {
        const MachineIdentity identity = data::IdentityShownBy(scan.shown);
        const ScanKeys keys = KeysOf(identity, scan.designation, std::nullopt);
        auto match = FindMachine(*connection_, keys);
        if (!match) return match.failure();
        std::int64_t machineId = 0;
        if (match->machineId) {
            machineId = *match->machineId;
        } else if (claimed.insert(scan.machineId).second) {
            machineId = scan.machineId;  // the first scan of a machine keeps its id
        } else {
            auto made = queryValue(*connection_, "INSERT INTO machines (name) VALUES (?) RETURNING id",
                                   {std::string_view(scan.designation)});
            if (!made) return made.failure();
            if (!*made) return Failure{1, "a machine was not recorded"};
            machineId = std::stoll(**made);
        }
        claimed.insert(machineId);
        touched.insert(machineId);
        const std::string macs = joinedMacs(identity);
        status = connection_->query(
            "UPDATE scans SET machine_id = ?, matched_by = ?, enclosure_serial = ?, board_serial = ?, "
            "bios_serial = ?, macs = ? WHERE id = ?",
            {machineId, std::string_view(match->matchedBy), optionalText(identity.enclosureSerial),
             optionalText(identity.boardSerial), optionalText(identity.biosSerial), std::string_view(macs), scan.id});
        if (!status.ok()) return status;
        if (status = RecordMachineKeys(*connection_, machineId, keys, *match); !status.ok()) return status;
    }
    status = connection_->execute("DELETE FROM machines WHERE id NOT IN (SELECT machine_id FROM scans)");
    if (!status.ok()) return status;
    for (std::int64_t machineId : touched) {
        if (status = RefreshMachine(*connection_, machineId); !status.ok()) return status;
    }
    return {};
}

Status InventoryStore::insertScan(const data::Report& report, std::int64_t scanId) {
    std::vector<std::vector<SqlParam>> rows;
    std::int64_t position = 0;
    auto addRow = [&](std::string_view section, std::int64_t item, std::string_view label, std::string_view value) {
        rows.push_back({scanId, position++, section, item, label, value});
    };
    const data::Section* slotSection = nullptr;
    for (const auto& section : report.sections) {
        std::int64_t item = 0;
        for (const auto& entry : section.items) {
            for (const auto& row : entry.rows) addRow(section.title, item, row.label, row.value);
            ++item;
        }
        if (section.title == "Slots") {
            slotSection = &section;
            for (const auto& slot : report.slots) {
                addRow(section.title, item, kSlotTag, slot.tag);
                addRow(section.title, item, kSlotDesignation, slot.designation);
                addRow(section.title, item, kSlotUsage, slot.usage);
                ++item;
            }
        }
        // Error rows close the section, after its last item; the model joins
        // several of them with line breaks.
        if (section.error) {
            std::string_view errors = *section.error;
            for (std::size_t start = 0;;) {
                std::size_t end = errors.find('\n', start);
                addRow(section.title, item > 0 ? item - 1 : 0, "Error", errors.substr(start, end - start));
                if (end == std::string_view::npos) break;
                start = end + 1;
            }
        }
    }
    if (!slotSection && !report.slots.empty()) {
        std::int64_t item = 0;
        for (const auto& slot : report.slots) {
            addRow("Slots", item, kSlotTag, slot.tag);
            addRow("Slots", item, kSlotDesignation, slot.designation);
            addRow("Slots", item, kSlotUsage, slot.usage);
            ++item;
        }
    }
    if (Status status = connection_->insertRows("\"rows\"", {"scan_id", "position", "section", "item", "label", "value"},
                                                rows);
        !status.ok()) {
        return status;
    }
    rows.clear();
    for (const auto& program : report.software) {
        rows.push_back({scanId, std::string_view(program.first), std::string_view(program.second)});
    }
    if (Status status = connection_->insertRows("software", {"scan_id", "name", "version"}, rows); !status.ok()) {
        return status;
    }
    rows.clear();
    for (const auto& hotfix : report.hotfixes) {
        rows.push_back({scanId, std::string_view(hotfix.first), std::string_view(hotfix.second)});
    }
    return connection_->insertRows("hotfixes", {"scan_id", "hotfix_id", "description"}, rows);
}

std::string scanTimeOf(const data::Report& report) {
    if (auto taken = ParseIso8601(report.takenAt)) {
        const DateTime& t = taken->local;
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                      t.minute, t.second);
        return buffer;
    }
    if (!report.timeKnown) return {};
    return sortableGenerated(report.generated);
}

std::string sortableGenerated(std::string_view generated) {
    // dd-Month-yyyy hh:mm
    static constexpr std::array<std::array<std::string_view, 2>, 12> kMonths{{
        {"January", "Januar"}, {"February", "Februar"}, {"March", "M\xC3\xA4rz"}, {"April", "April"},
        {"May", "Mai"}, {"June", "Juni"}, {"July", "Juli"}, {"August", "August"},
        {"September", "September"}, {"October", "Oktober"}, {"November", "November"},
        {"December", "Dezember"}}};
    auto digits = [](std::string_view text) {
        for (char c : text) {
            if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        }
        return true;
    };
    std::size_t first = generated.find('-');
    std::size_t second = first == std::string_view::npos ? first : generated.find('-', first + 1);
    std::size_t space = second == std::string_view::npos ? second : generated.find(' ', second + 1);
    if (space == std::string_view::npos || first != 2 || generated.size() != space + 6) return {};
    std::string_view day = generated.substr(0, 2);
    std::string_view month = generated.substr(first + 1, second - first - 1);
    std::string_view year = generated.substr(second + 1, space - second - 1);
    std::string_view hour = generated.substr(space + 1, 2);
    std::string_view minute = generated.substr(space + 4, 2);
    if (!digits(day) || year.size() != 4 || !digits(year) || !digits(hour) || !digits(minute) ||
        generated[space + 3] != ':') {
        return {};
    }
    for (std::size_t m = 0; m < kMonths.size(); ++m) {
        if (month == kMonths[m][0] || month == kMonths[m][1]) {
            char number[3] = {static_cast<char>('0' + (m + 1) / 10), static_cast<char>('0' + (m + 1) % 10), 0};
            return std::string(year) + "-" + number + "-" + std::string(day) + " " + std::string(hour) + ":" +
                   std::string(minute);
        }
    }
    return {};
}

}  // namespace veltrix::store
