#include "fleet/enrolment.h"

#include <openssl/rand.h>

#include <chrono>
#include <ctime>

#include "fleet/fleet_failure.h"
#include "store/content_digest.h"

namespace veltrix::fleet {
namespace {

using store::SqlParam;
using store::SqlRow;

std::string hex(const unsigned char* bytes, std::size_t size) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 15];
    }
    return text;
}

SqlParam optionalText(const std::optional<std::string>& text) {
    if (!text) return nullptr;
    return std::string_view(*text);
}

std::optional<std::string> column(const SqlRow& row, int index) {
    auto text = row.text(index);
    if (!text) return std::nullopt;
    return std::string(*text);
}

Failure storeFailure(const Failure& failure) { return Failure{kStoreFailed, failure.description}; }

// Runs `work` in one write transaction: committed when it succeeds, rolled
// back when it or the commit fails.
template <class T, class Work>
Result<T> inTransaction(store::SqlConnection& connection, Work work) {
    if (Status begun = connection.beginWrite(); !begun.ok()) return storeFailure(begun.failure);
    Result<T> result = work();
    if (!result) {
        connection.execute("ROLLBACK");
        return result;
    }
    if (Status committed = connection.execute("COMMIT"); !committed.ok()) {
        connection.execute("ROLLBACK");
        return storeFailure(committed.failure);
    }
    return result;
}

std::string joinedMacs(const std::vector<std::string>& macs) {
    std::string text;
    for (const auto& mac : macs) text += (text.empty() ? "" : " ") + mac;
    return text;
}

}  // namespace

Result<std::string> randomToken() {
    unsigned char bytes[32];
    if (RAND_bytes(bytes, sizeof bytes) != 1) return Failure{kStoreFailed, "the system gave no random bytes"};
    return hex(bytes, sizeof bytes);
}

Result<NewSecret> createSecret(store::SqlConnection& connection, std::string_view note, std::string_view now) {
    auto secret = randomToken();
    if (!secret) return secret.failure();
    std::string hash = store::contentDigest(*secret);
    auto id = store::queryValue(connection,
                                "INSERT INTO enrolment_secrets (secret_hash, note, created_at) VALUES (?, ?, ?) "
                                "RETURNING id",
                                {std::string_view(hash), note, now});
    if (!id) return storeFailure(id.failure());
    if (!*id) return Failure{kStoreFailed, "the secret was not recorded"};
    return NewSecret{std::stoll(**id), std::move(*secret)};
}

Result<std::vector<SecretLine>> listSecrets(store::SqlConnection& connection) {
    std::vector<SecretLine> lines;
    Status status = connection.query(
        "SELECT s.id, s.note, s.created_at, s.revoked_at, (SELECT COUNT(*) FROM hosts h WHERE h.secret_id = s.id) "
        "FROM enrolment_secrets s ORDER BY s.id",
        {}, [&](const SqlRow& row) {
            lines.push_back(SecretLine{row.integer(0), std::string(row.text(1).value_or("")),
                                       std::string(row.text(2).value_or("")), column(row, 3), row.integer(4)});
        });
    if (!status.ok()) return storeFailure(status.failure);
    return lines;
}

Status revokeSecret(store::SqlConnection& connection, std::int64_t id, std::string_view now) {
    auto revoked = store::queryValue(connection,
                                     "UPDATE enrolment_secrets SET revoked_at = COALESCE(revoked_at, ?) "
                                     "WHERE id = ? RETURNING id",
                                     {now, id});
    if (!revoked) return storeFailure(revoked.failure());
    if (!*revoked) return Failure{kNotFound, "there is no enrolment secret " + std::to_string(id)};
    return {};
}

Result<Enrolled> enrolHost(store::SqlConnection& connection, std::string_view secret,
                           const MachineIdentity& machine, std::string_view now) {
    const std::string secretHash = store::contentDigest(secret);
    const HostIdentity identity = hostIdentity(machine);
    return inTransaction<Enrolled>(connection, [&]() -> Result<Enrolled> {
        auto secretId = store::queryValue(
            connection, "SELECT id FROM enrolment_secrets WHERE secret_hash = ? AND revoked_at IS NULL",
            {std::string_view(secretHash)});
        if (!secretId) return storeFailure(secretId.failure());
        if (!*secretId) return Failure{kSecretRefused, "the enrolment secret is unknown or revoked"};
        auto agentBytes = randomToken();
        auto key = randomToken();
        if (!agentBytes || !key) return Failure{kStoreFailed, "the system gave no random bytes"};
        // A version 4 UUID from the first 16 random bytes.
        std::string a = agentBytes->substr(0, 32);
        a[12] = '4';
        a[16] = "89ab"[std::stoi(a.substr(16, 1), nullptr, 16) & 3];
        std::string agentId = a.substr(0, 8) + "-" + a.substr(8, 4) + "-" + a.substr(12, 4) + "-" +
                              a.substr(16, 4) + "-" + a.substr(20, 12);
        std::string keyHash = store::contentDigest(*key);
        std::string macs = joinedMacs(identity.macs);
        auto hostId = store::queryValue(
            connection,
            "INSERT INTO hosts (agent_id, key_hash, secret_id, host_name, uuid, enclosure_serial, board_serial, "
            "bios_serial, macs, enrolled_at) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id",
            {std::string_view(agentId), std::string_view(keyHash), std::int64_t{std::stoll(**secretId)},
             optionalText(identity.hostName), optionalText(identity.uuid), optionalText(identity.enclosureSerial),
             optionalText(identity.boardSerial), optionalText(identity.biosSerial), std::string_view(macs), now});
        if (!hostId) return storeFailure(hostId.failure());
        if (!*hostId) return Failure{kStoreFailed, "the host was not recorded"};
        Enrolled enrolled{std::stoll(**hostId), std::move(agentId), std::move(*key), {}};
        // Every earlier host of this hardware, not just the first.
        for (;;) {
            auto earlier = otherHostWithHardware(connection, enrolled.hostId, identity);
            if (!earlier) return earlier.failure();
            if (!*earlier) break;
            std::string reason = "replaced by host " + std::to_string(enrolled.hostId);
            Status status = connection.query("UPDATE hosts SET revoked_at = ?, revoked_reason = ? WHERE id = ?",
                                             {now, std::string_view(reason), **earlier});
            if (!status.ok()) return storeFailure(status.failure);
            enrolled.replaced.push_back(**earlier);
        }
        return enrolled;
    });
}

Result<Host> authenticate(store::SqlConnection& connection, std::string_view key) {
    const std::string keyHash = store::contentDigest(key);
    std::optional<Host> host;
    bool revoked = false;
    Status status = connection.query(
        "SELECT id, agent_id, host_name, uuid, enclosure_serial, board_serial, bios_serial, revoked_at "
        "FROM hosts WHERE key_hash = ?",
        {std::string_view(keyHash)}, [&](const SqlRow& row) {
            Host found;
            found.id = row.integer(0);
            found.agentId = std::string(row.text(1).value_or(""));
            found.identity.hostName = column(row, 2);
            found.identity.uuid = column(row, 3);
            found.identity.enclosureSerial = column(row, 4);
            found.identity.boardSerial = column(row, 5);
            found.identity.biosSerial = column(row, 6);
            revoked = row.text(7).has_value();
            host = std::move(found);
        });
    if (!status.ok()) return storeFailure(status.failure);
    if (!host) return Failure{kUnknownKey, "the host key is unknown"};
    if (revoked) return Failure{kUnknownKey, "the host key was revoked; enrol the host again"};
    return std::move(*host);
}

Result<std::optional<std::int64_t>> otherHostWithHardware(store::SqlConnection& connection, std::int64_t hostId,
                                                          const HostIdentity& identity) {
    std::string swapped = identity.uuid ? ByteSwappedUuid(*identity.uuid) : std::string();
    // The indexes find every host sharing any one value; sameHardware then
    // applies the rule that a UUID on both sides outweighs the serials.
    std::optional<std::int64_t> match;
    Status status = connection.query(
        "SELECT id, uuid, enclosure_serial, board_serial, bios_serial FROM hosts "
        "WHERE revoked_at IS NULL AND id <> ? AND (uuid = ? OR uuid = ? OR enclosure_serial = ? "
        "OR board_serial = ? OR bios_serial = ?) ORDER BY id",
        {hostId, optionalText(identity.uuid), identity.uuid ? SqlParam(std::string_view(swapped)) : SqlParam(nullptr),
         optionalText(identity.enclosureSerial), optionalText(identity.boardSerial),
         optionalText(identity.biosSerial)},
        [&](const SqlRow& row) {
            if (match) return;
            HostIdentity other;
            other.uuid = column(row, 1);
            other.enclosureSerial = column(row, 2);
            other.boardSerial = column(row, 3);
            other.biosSerial = column(row, 4);
            if (sameHardware(identity, other)) match = row.integer(0);
        });
    if (!status.ok()) return storeFailure(status.failure);
    return match;
}

Result<std::vector<HostLine>> listHosts(store::SqlConnection& connection) {
    std::vector<HostLine> lines;
    Status status = connection.query(
        "SELECT id, agent_id, COALESCE(host_name, uuid, enclosure_serial, board_serial, ''), enrolled_at, "
        "last_upload_at, revoked_at, revoked_reason, uploads FROM hosts ORDER BY id",
        {}, [&](const SqlRow& row) {
            HostLine line;
            line.id = row.integer(0);
            line.agentId = std::string(row.text(1).value_or(""));
            line.machine = std::string(row.text(2).value_or(""));
            line.enrolledAt = std::string(row.text(3).value_or(""));
            line.lastUpload = column(row, 4);
            line.revokedAt = column(row, 5);
            line.revokedReason = column(row, 6);
            line.uploads = row.integer(7);
            lines.push_back(std::move(line));
        });
    if (!status.ok()) return storeFailure(status.failure);
    return lines;
}

Status revokeHost(store::SqlConnection& connection, std::string_view hostOrAgentId, std::string_view now) {
    const bool digits = !hostOrAgentId.empty() && hostOrAgentId.size() < 19 &&
                        hostOrAgentId.find_first_not_of("0123456789") == std::string_view::npos;
    auto revoked =
        digits ? store::queryValue(connection,
                                   "UPDATE hosts SET revoked_at = COALESCE(revoked_at, ?), "
                                   "revoked_reason = COALESCE(revoked_reason, 'revoked') WHERE id = ? RETURNING id",
                                   {now, std::int64_t{std::stoll(std::string(hostOrAgentId))}})
               : store::queryValue(connection,
                                   "UPDATE hosts SET revoked_at = COALESCE(revoked_at, ?), "
                                   "revoked_reason = COALESCE(revoked_reason, 'revoked') WHERE agent_id = ? "
                                   "RETURNING id",
                                   {now, hostOrAgentId});
    if (!revoked) return storeFailure(revoked.failure());
    if (!*revoked) return Failure{kNotFound, "there is no host " + std::string(hostOrAgentId)};
    return {};
}

}  // namespace veltrix::fleet
