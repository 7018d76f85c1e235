#include "fleet/ingest.h"

#include <cctype>

#include "core/locale.h"
#include "core/timestamp.h"
#include "data/load_input.h"
#include "fleet/fleet_failure.h"
#include "store/content_digest.h"

namespace veltrix::fleet {
namespace {

bool startsAsObject(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    for (char c : bytes) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        return c == '{';
    }
    return false;
}

std::optional<Ingested> held(store::SqlConnection& connection, std::string_view digest, Status& status) {
    std::optional<Ingested> found;
    status = connection.query("SELECT id, machine_id FROM scans WHERE digest = ?", {digest},
                              [&](const store::SqlRow& row) { found = Ingested{false, row.integer(0), row.integer(1)}; });
    return found;
}

}  // namespace

bool storeAnswers(store::SqlConnection& connection) {
    auto value = store::queryValue(connection, "SELECT 1");
    return value && *value;
}

Result<Ingested> ingestScan(store::InventoryStore& inventory, const Host& host, std::string_view snapshot,
                            std::string_view now) {
    store::SqlConnection& connection = inventory.connection();
    auto failed = [&](const Failure& failure) -> Failure {
        return Failure{storeAnswers(connection) ? kStoreFailed : kStoreUnavailable, failure.description};
    };
    // A saved report page would load too, but hosts upload what they scanned.
    if (!startsAsObject(snapshot)) return Failure{kMalformed, "the body is not a snapshot (JSON object)"};
    const std::string digest = store::contentDigest(snapshot);
    // A retry of a scan the store holds is answered without reading it again.
    Status status;
    if (auto found = held(connection, digest, status)) return *found;
    if (!status.ok()) return failed(status.failure);

    const std::string name = "upload from host " + std::to_string(host.id);
    auto report = data::LoadInputBytes(snapshot, name, LocalNow(), EnglishLocale());
    if (!report) return Failure{kMalformed, report.failure().description};
    {
        auto other = otherHostWithHardware(connection, host.id, hostIdentity(report->machine));
        if (!other) return failed(other.failure());
        if (*other) {
            return Failure{kIdentityTaken, "the scan's hardware is enrolled as another host (" +
                                               std::to_string(**other) + "); nothing was stored"};
        }
    }

    if (Status begun = inventory.beginBatch(); !begun.ok()) return failed(begun.failure);
    const std::string source = "agent " + host.agentId;
    auto added = inventory.addScan(*report, digest, source, store::AddOptions{host.agentId});
    if (!added) {
        inventory.rollbackBatch();
        return failed(added.failure());
    }
    Status updated = connection.query(
        "UPDATE hosts SET last_upload_at = ?, uploads = uploads + 1, machine_id = ? WHERE id = ?",
        {now, added->machineId, host.id});
    if (!updated.ok()) {
        inventory.rollbackBatch();
        return failed(updated.failure);
    }
    if (Status committed = inventory.commitBatch(); !committed.ok()) {
        inventory.rollbackBatch();
        return failed(committed.failure);
    }
    return Ingested{added->outcome == store::AddOutcome::Added, added->scanId, added->machineId};
}

}  // namespace veltrix::fleet
