// The agent's state folder: what enrolment gave this computer (the server,
// its agent id and key, how to trust the server) and the spool of scans not
// yet delivered. Only root (Administrators and SYSTEM on Windows) may read
// it: the key is this computer's password at the server.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "core/platform.h"
#include "core/result.h"

namespace veltrix {

struct AgentState {
    std::string server;  // https://host:port, no trailing slash
    std::string agentId;
    std::string key;
    // Any certificate is taken: only when enrolment was told so.
    bool insecure = false;
    // The server is checked against the certificate authority kept in the
    // folder (ca.pem) instead of the system's trust store.
    bool ownCertificateAuthority = false;
};

// Makes a folder readable by its owner only (Windows: SYSTEM and the
// Administrators). A platform's own part; left empty, the folder's
// permission bits are set, which is all POSIX needs.
using FolderGuard = std::function<Status(const std::string& folder)>;

std::string agentStateFile(const std::string& folder);
std::string agentCertificateFile(const std::string& folder);
std::string agentSpoolFolder(const std::string& folder);

// Creates the folder and its spool when missing and takes their access from
// everyone but the owner, also when they were made wider by hand.
Status prepareAgentFolder(const std::string& folder, const FolderGuard& guard);

// nullopt when this computer is not enrolled; a failure when the file is
// there but damaged, with the path and what is wrong.
Result<std::optional<AgentState>> loadAgentState(const std::string& folder);
// Replaces the state file whole (never half written), owner-only.
Status saveAgentState(Platform& platform, const std::string& folder, const AgentState& state);
// Keeps a copy of the certificate authority's PEM text, so that the agent
// does not depend on the file enrolment was given.
Status saveAgentCertificate(Platform& platform, const std::string& folder, const std::string& pem);

// The server's address as kept: scheme and authority (and a path prefix for
// a proxy), without a trailing slash, query or fragment. Plain http needs
// `insecure`, since the key would travel readable.
Result<std::string> normalizeServerUrl(const std::string& url, bool insecure);

}  // namespace veltrix
