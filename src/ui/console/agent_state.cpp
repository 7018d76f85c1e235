#include "ui/console/agent_state.h"

#include <filesystem>

#include <nlohmann/json.hpp>

#include "data/report_reader.h"

namespace veltrix {

namespace {

namespace fs = std::filesystem;

// A state file is a few hundred bytes; this keeps a wrong file from being read whole.
constexpr std::size_t kLongestStateFile = 64 * 1024;

Failure stateFailure(const std::string& path, const std::string& why) {
    return Failure{failure_code::kFileError, path + ": " + why};
}

Status restrict(const fs::path& path, fs::perms perms) {
    std::error_code error;
    fs::permissions(path, perms, fs::perm_options::replace, error);
    if (error) return stateFailure(path.string(), "cannot restrict access: " + error.message());
    return {};
}

Status writePrivateFile(Platform& platform, const std::string& path, const std::string& bytes) {
    auto file = platform.createReplacingFile(path);
    if (!file) return file.failure();
    if (Status written = (*file)->write(bytes); !written.ok()) return written;
    if (Status committed = (*file)->commit(); !committed.ok()) return committed;
    return restrict(path, fs::perms::owner_read | fs::perms::owner_write);
}

}  // namespace

std::string agentStateFile(const std::string& folder) { return (fs::path(folder) / "agent.json").string(); }
std::string agentCertificateFile(const std::string& folder) { return (fs::path(folder) / "ca.pem").string(); }
std::string agentSpoolFolder(const std::string& folder) { return (fs::path(folder) / "spool").string(); }

Status prepareAgentFolder(const std::string& folder, const FolderGuard& guard) {
    for (const std::string& each : {folder, agentSpoolFolder(folder)}) {
        std::error_code error;
        fs::create_directories(each, error);
        if (error) return stateFailure(each, "cannot create the folder: " + error.message());
        if (!fs::is_directory(each, error)) return stateFailure(each, "not a folder");
        if (Status restricted = restrict(each, fs::perms::owner_all); !restricted.ok()) return restricted;
        if (guard) {
            if (Status guarded = guard(each); !guarded.ok()) return guarded;
        }
    }
    return {};
}

Result<std::optional<AgentState>> loadAgentState(const std::string& folder) {
    const std::string path = agentStateFile(folder);
    std::error_code error;
    if (!fs::exists(path, error)) return std::optional<AgentState>();
    auto bytes = data::ReadWholeFile(path, kLongestStateFile);
    if (!bytes) return bytes.failure();
    nlohmann::json document = nlohmann::json::parse(*bytes, nullptr, false);
    if (document.is_discarded() || !document.is_object()) return stateFailure(path, "not a state file (no JSON object)");
    AgentState state;
    auto text = [&](const char* name, std::string& into) -> bool {
        auto found = document.find(name);
        if (found == document.end() || !found->is_string() || found->get<std::string>().empty()) return false;
        into = found->get<std::string>();
        return true;
    };
    for (auto [name, into] : {std::pair{"server", &state.server}, std::pair{"agent-id", &state.agentId},
                              std::pair{"key", &state.key}}) {
        if (!text(name, *into)) return stateFailure(path, std::string("no \"") + name + "\" in it; enrol again");
    }
    state.insecure = document.value("insecure", false);
    state.ownCertificateAuthority = document.value("own-certificate-authority", false);
    if (state.ownCertificateAuthority && !fs::exists(agentCertificateFile(folder), error)) {
        return stateFailure(path, "its certificate authority " + agentCertificateFile(folder) + " is missing; enrol again");
    }
    return std::optional<AgentState>(std::move(state));
}

Status saveAgentState(Platform& platform, const std::string& folder, const AgentState& state) {
    nlohmann::json document = {{"server", state.server},
                               {"agent-id", state.agentId},
                               {"key", state.key},
                               {"insecure", state.insecure},
                               {"own-certificate-authority", state.ownCertificateAuthority}};
    return writePrivateFile(platform, agentStateFile(folder), document.dump(2) + "\n");
}

Status saveAgentCertificate(Platform& platform, const std::string& folder, const std::string& pem) {
    return writePrivateFile(platform, agentCertificateFile(folder), pem);
}

Result<std::string> normalizeServerUrl(const std::string& url, bool insecure) {
    auto refuse = [&](const std::string& why) {
        return Failure{failure_code::kInvalidArgument, "--server " + url + ": " + why};
    };
    std::string rest;
    if (url.rfind("https://", 0) == 0) {
        rest = url.substr(8);
    } else if (url.rfind("http://", 0) == 0) {
        if (!insecure) return refuse("plain http would send the key readable; use https, or --insecure");
        rest = url.substr(7);
    } else {
        return refuse("the address must start with https://");
    }
    if (rest.find_first_of("?#") != std::string::npos) return refuse("no query or fragment, please");
    for (char c : rest) {
        if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F) {
            return refuse("spaces and control characters are not allowed");
        }
    }
    const std::string authority = rest.substr(0, rest.find('/'));
    if (authority.empty() || authority.find('@') != std::string::npos) return refuse("it names no server");
    std::string normalized = url;
    while (!normalized.empty() && normalized.back() == '/') normalized.pop_back();
    return normalized;
}

}  // namespace veltrix
