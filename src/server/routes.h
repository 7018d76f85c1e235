// The server's endpoints, one group per path, over what they share.
#pragma once

#include <cstddef>
#include <vector>

#include "server/console_routes.h"
#include "server/store_pool.h"
#include "server/transport.h"

namespace veltrix::server {

struct RouteLimits {
    std::size_t enrolBody = 64 * 1024;
    std::size_t scanBody = 8 * 1024 * 1024;       // compressed, as received
    std::size_t scanInflated = 64 * 1024 * 1024;  // the snapshot itself
};

// Seconds an agent is asked to wait when the store cannot be reached.
inline constexpr int kStoreRetryAfterSeconds = 30;

// A 503 that asks the client to come back later.
Response storeUnavailable(const std::string& reason);

Route enrolmentRoute(StorePool& stores, const RouteLimits& limits);
Route scanRoute(StorePool& stores, const RouteLimits& limits);
Route healthRoute(StorePool& stores);

inline std::vector<Route> allRoutes(StorePool& stores, const RouteLimits& limits) {
    std::vector<Route> routes{enrolmentRoute(stores, limits), scanRoute(stores, limits), healthRoute(stores)};
    for (auto& route : consoleRoutes(stores)) routes.push_back(std::move(route));
    return routes;
}

}  // namespace veltrix::server
