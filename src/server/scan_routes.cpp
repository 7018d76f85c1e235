#include <nlohmann/json.hpp>

#include "core/ascii.h"
#include "fleet/enrolment.h"
#include "fleet/fleet_failure.h"
#include "fleet/ingest.h"
#include "server/bounded_inflate.h"
#include "server/routes.h"

namespace veltrix::server {
namespace {

std::string_view bearerKey(std::string_view authorization) {
    constexpr std::string_view kScheme = "Bearer ";
    authorization = trimView(authorization);
    if (authorization.size() <= kScheme.size() ||
        !equalsIgnoringCase(authorization.substr(0, kScheme.size()), kScheme)) {
        return {};
    }
    return trimView(authorization.substr(kScheme.size()));
}

bool isGzip(std::string_view encoding) { return equalsIgnoringCase(trimView(encoding), "gzip"); }

Response upload(StorePool& stores, const RouteLimits& limits, const Request& request) {
    std::string_view key = bearerKey(request.authorization);
    if (key.empty()) return errorResponse(401, "no host key: send \"Authorization: Bearer KEY\" (enrol first)");
    if (!isGzip(request.contentEncoding)) {
        return errorResponse(400, "the scan must be sent gzip-compressed with \"Content-Encoding: gzip\"");
    }
    auto lease = stores.acquire();
    if (!lease) return storeUnavailable("the store cannot be reached; the scan was not stored, send it later");
    auto unavailable = [&]() {
        lease->discard();
        return storeUnavailable("the store cannot be reached; the scan was not stored, send it later");
    };
    auto host = fleet::authenticate((*lease)->connection(), key);
    if (!host) {
        if (host.failure().number == fleet::kUnknownKey) return errorResponse(401, host.failure().description);
        if (!fleet::storeAnswers((*lease)->connection())) return unavailable();
        return errorResponse(500, "the host key could not be checked: " + host.failure().description);
    }
    auto snapshot = inflateGzip(request.body, limits.scanInflated);
    if (!snapshot) {
        Response refused = errorResponse(snapshot.failure().number == kInflatesTooLarge ? 413 : 400,
                                         snapshot.failure().description);
        refused.hostId = std::to_string(host->id);
        return refused;
    }
    auto ingested = fleet::ingestScan(**lease, *host, *snapshot, fleet::utcNow());
    Response response;
    if (!ingested) {
        const auto& failure = ingested.failure();
        switch (failure.number) {
            case fleet::kMalformed: response = errorResponse(400, failure.description); break;
            case fleet::kIdentityTaken: response = errorResponse(409, failure.description); break;
            case fleet::kStoreUnavailable: response = unavailable(); break;
            default: response = errorResponse(500, "the scan was not stored: " + failure.description);
        }
    } else {
        response.status = ingested->added ? 201 : 200;
        response.body = nlohmann::json{{"scan-id", ingested->scanId}, {"machine-id", ingested->machineId}}.dump();
    }
    response.hostId = std::to_string(host->id);
    return response;
}

}  // namespace

Route scanRoute(StorePool& stores, const RouteLimits& limits) {
    return Route{"POST", "/api/v1/scans", limits.scanBody,
                 [&stores, limits](const Request& request) { return upload(stores, limits, request); }};
}

}  // namespace veltrix::server
