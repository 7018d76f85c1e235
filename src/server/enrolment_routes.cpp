#include <nlohmann/json.hpp>

#include "fleet/enrolment.h"
#include "fleet/fleet_failure.h"
#include "fleet/ingest.h"
#include "server/routes.h"

namespace veltrix::server {
namespace {

// The identity as the agent sends it; every member may be absent, none may
// be of another type.
std::optional<data::MachineIdentity> identityFrom(const nlohmann::json& machine, std::string& why) {
    if (!machine.is_object()) {
        why = "\"machine\" must be an object";
        return std::nullopt;
    }
    data::MachineIdentity identity;
    const std::pair<const char*, std::optional<std::string>*> members[] = {
        {"host-name", &identity.hostName},
        {"uuid", &identity.uuid},
        {"enclosure-serial", &identity.enclosureSerial},
        {"board-serial", &identity.boardSerial},
        {"bios-serial", &identity.biosSerial}};
    for (const auto& [name, target] : members) {
        auto found = machine.find(name);
        if (found == machine.end() || found->is_null()) continue;
        if (!found->is_string()) {
            why = std::string("\"machine\".\"") + name + "\" must be text";
            return std::nullopt;
        }
        *target = found->get<std::string>();
    }
    if (auto macs = machine.find("macs"); macs != machine.end() && !macs->is_null()) {
        if (!macs->is_array()) {
            why = "\"machine\".\"macs\" must be a list of text";
            return std::nullopt;
        }
        for (const auto& mac : *macs) {
            if (!mac.is_string()) {
                why = "\"machine\".\"macs\" must be a list of text";
                return std::nullopt;
            }
            identity.macs.push_back(mac.get<std::string>());
        }
    }
    return identity;
}

Response enrol(StorePool& stores, const Request& request) {
    auto body = nlohmann::json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) return errorResponse(400, "the body is not a JSON object");
    auto secret = body.find("secret");
    if (secret == body.end() || !secret->is_string() || secret->get<std::string>().empty()) {
        return errorResponse(400, "\"secret\" (the enrolment secret) is missing");
    }
    auto machine = body.find("machine");
    if (machine == body.end()) return errorResponse(400, "\"machine\" (the host's identity) is missing");
    std::string why;
    auto identity = identityFrom(*machine, why);
    if (!identity) return errorResponse(400, why);

    auto lease = stores.acquire();
    if (!lease) return storeUnavailable("the store cannot be reached; try again later");
    auto enrolled = fleet::enrolHost((*lease)->connection(), secret->get<std::string>(), *identity, fleet::utcNow());
    if (!enrolled) {
        const auto& failure = enrolled.failure();
        if (failure.number == fleet::kSecretRefused) return errorResponse(403, failure.description);
        if (!fleet::storeAnswers((*lease)->connection())) {
            lease->discard();
            return storeUnavailable("the store cannot be reached; try again later");
        }
        return errorResponse(500, "the host could not be enrolled: " + failure.description);
    }
    Response response;
    response.status = 201;
    response.hostId = std::to_string(enrolled->hostId);
    response.body = nlohmann::json{{"agent-id", enrolled->agentId}, {"key", enrolled->key}}.dump();
    return response;
}

}  // namespace

Route enrolmentRoute(StorePool& stores, const RouteLimits& limits) {
    return Route{"POST", "/api/v1/enrol", limits.enrolBody,
                 [&stores](const Request& request) { return enrol(stores, request); }};
}

}  // namespace veltrix::server
