// Enrolment secrets and host keys. An administrator makes a secret; a host
// exchanges it once for a key of its own, which then signs its uploads.
// Only SHA-256 hashes of secrets and keys are stored: a copy of the store
// lets nobody enrol or upload.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "fleet/host_identity.h"
#include "fleet/utc_time.h"
#include "store/sql_connection.h"

namespace veltrix::fleet {

// 32 random bytes as 64 hex digits; a failure when the system has no
// randomness to give.
Result<std::string> randomToken();

struct NewSecret {
    std::int64_t id = 0;
    std::string secret;  // shown once, never stored
};
Result<NewSecret> createSecret(store::SqlConnection& connection, std::string_view note, std::string_view now);

struct SecretLine {
    std::int64_t id = 0;
    std::string note, createdAt;
    std::optional<std::string> revokedAt;
    std::int64_t hosts = 0;  // enrolled with it
};
Result<std::vector<SecretLine>> listSecrets(store::SqlConnection& connection);
// Stops new enrolments with the secret; hosts enrolled with it keep their
// keys. kNotFound when there is no such secret.
Status revokeSecret(store::SqlConnection& connection, std::int64_t id, std::string_view now);

struct Enrolled {
    std::int64_t hostId = 0;
    std::string agentId;  // a random UUID
    std::string key;      // given to the host once, never stored
    // Earlier hosts of the same hardware (a reinstalled PC): their keys are
    // revoked, since the machine now speaks with the new one.
    std::vector<std::int64_t> replaced;
};
// kSecretRefused for an unknown or revoked secret.
Result<Enrolled> enrolHost(store::SqlConnection& connection, std::string_view secret,
                           const MachineIdentity& machine, std::string_view now);

struct Host {
    std::int64_t id = 0;
    std::string agentId;
    HostIdentity identity;
};
// The host whose key this is; kUnknownKey for an unknown or revoked key.
Result<Host> authenticate(store::SqlConnection& connection, std::string_view key);

// Another host, not revoked, that is the same hardware as `identity`.
Result<std::optional<std::int64_t>> otherHostWithHardware(store::SqlConnection& connection, std::int64_t hostId,
                                                          const HostIdentity& identity);

struct HostLine {
    std::int64_t id = 0;
    std::string agentId, machine, enrolledAt;
    std::optional<std::string> lastUpload, revokedAt, revokedReason;
    std::int64_t uploads = 0;
};
Result<std::vector<HostLine>> listHosts(store::SqlConnection& connection);
// By host id (digits) or agent id; kNotFound when there is none.
Status revokeHost(store::SqlConnection& connection, std::string_view hostOrAgentId, std::string_view now);

}  // namespace veltrix::fleet
