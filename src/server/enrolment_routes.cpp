#include <nlohmann/json.hpp>

#include "fleet/enrolment.h"
#include "fleet/fleet_failure.h"
#include "fleet/ingest.h"
#include "providers/snapshot/machine_json.h"
#include "server/routes.h"

namespace veltrix::server {
namespace {

Response enrol(StorePool& stores, const Request& request) {
    auto body = nlohmann::ordered_json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) return errorResponse(400, "the body is not a JSON object");
    auto secret = body.find("secret");
    if (secret == body.end() || !secret->is_string() || secret->get<std::string>().empty()) {
        return errorResponse(400, "\"secret\" (the enrolment secret) is missing");
    }
    auto machine = body.find("machine");
    if (machine == body.end()) return errorResponse(400, "\"machine\" (the host's identity) is missing");
    auto identity = snapshot::MachineFromJson(*machine);
    if (!identity) return errorResponse(400, identity.failure().description);

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
