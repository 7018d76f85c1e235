// The console: the fleet as pages for people and as JSON for scripts, on the
// server's own port.
#pragma once

#include <vector>

#include "fleet/console_users.h"
#include "server/store_pool.h"
#include "server/transport.h"

namespace veltrix::server {

struct ConsoleSettings {
    fleet::SessionPolicy sessions;
};

std::vector<Route> signInRoutes(StorePool& stores, const ConsoleSettings& settings);
std::vector<Route> fleetRoutes(StorePool& stores);
std::vector<Route> machineRoutes(StorePool& stores);
std::vector<Route> searchRoutes(StorePool& stores);
std::vector<Route> dashboardRoutes(StorePool& stores);
std::vector<Route> adminRoutes(StorePool& stores);
std::vector<Route> reportRoutes(StorePool& stores);
std::vector<Route> changesRoutes(StorePool& stores);

inline std::vector<Route> consoleRoutes(StorePool& stores, const ConsoleSettings& settings = {}) {
    std::vector<Route> routes = signInRoutes(stores, settings);
    for (auto* more : {fleetRoutes, machineRoutes, reportRoutes, changesRoutes, searchRoutes, dashboardRoutes,
                       adminRoutes}) {
        for (auto& route : more(stores)) routes.push_back(std::move(route));
    }
    return routes;
}

}  // namespace veltrix::server
