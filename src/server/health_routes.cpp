#include <nlohmann/json.hpp>

#include "fleet/ingest.h"
#include "server/routes.h"

namespace veltrix::server {

Response storeUnavailable(const std::string& reason) {
    Response response = errorResponse(503, reason);
    response.retryAfterSeconds = kStoreRetryAfterSeconds;
    return response;
}

Route healthRoute(StorePool& stores) {
    return Route{"GET", "/api/v1/health", 0, [&stores](const Request&) {
                     Response response;
                     auto lease = stores.acquire();
                     bool answers = lease && fleet::storeAnswers((*lease)->connection());
                     if (lease && !answers) lease->discard();
                     if (answers) {
                         response.body = nlohmann::json{{"status", "ok"}}.dump();
                     } else {
                         response.status = 503;
                         response.retryAfterSeconds = kStoreRetryAfterSeconds;
                         response.body = nlohmann::json{{"status", "store unavailable"}}.dump();
                     }
                     return response;
                 }};
}

}  // namespace veltrix::server
