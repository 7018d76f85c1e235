// One machine: its identity, how each scan recognised it, and its scans as a
// timeline, as a page and as JSON.
#include <charconv>

#include <nlohmann/json.hpp>

#include "fleet/history.h"
#include "server/console_page.h"
#include "server/console_request.h"
#include "server/console_routes.h"
#include "server/routes.h"

namespace veltrix::server {
namespace {

std::optional<std::int64_t> idIn(std::string_view path, std::string_view prefix) {
    std::string_view digits = path.substr(prefix.size());
    std::int64_t id = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), id);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.empty() || id <= 0) return std::nullopt;
    return id;
}

std::string pageOf(const fleet::MachineHistory& m) {
    std::string content = "<h2>Identity</h2>\n<table><tbody>\n";
    auto row = [&](std::string_view label, std::string_view value) {
        content += "<tr><th scope=\"row\">" + std::string(label) + "</th><td>" + escape(value) + "</td></tr>\n";
    };
    row("Name", m.name);
    row("Host name", m.hostName);
    row("UUID", m.uuid);
    row("Serial", m.serial);
    if (m.possibleClone) row("Flag", "possible clone: another machine shows the same UUID with another serial");
    for (const auto& [kind, value] : m.keys) row("Recognised by " + escape(kind), value);
    content += "</tbody></table>\n<h2>Scans</h2>\n<table><thead><tr><th scope=\"col\">Taken</th>"
               "<th scope=\"col\">Report name</th><th scope=\"col\">Recognised by</th><th scope=\"col\">Source</th>"
               "<th scope=\"col\">Comment</th></tr></thead><tbody>\n";
    for (const auto& scan : m.scans) {
        content += "<tr><td>" + escape(scan.takenAt.empty() ? "unknown" : scan.takenAt) + "</td><td>" +
                   escape(scan.designation) + "</td><td>" + escape(scan.matchedBy) + "</td><td>" + escape(scan.source) +
                   "</td><td>" + escape(scan.comment) + "</td></tr>\n";
    }
    content += "</tbody></table>\n";
    return content;
}

nlohmann::json jsonOf(const fleet::MachineHistory& m) {
    nlohmann::json keys = nlohmann::json::array(), scans = nlohmann::json::array();
    for (const auto& [kind, value] : m.keys) keys.push_back({{"kind", kind}, {"value", value}});
    for (const auto& s : m.scans) {
        scans.push_back({{"id", s.id}, {"name", s.designation}, {"taken", s.takenAt}, {"matched-by", s.matchedBy},
                         {"source", s.source}, {"comment", s.comment}});
    }
    return {{"id", m.id},         {"name", m.name},   {"host-name", m.hostName}, {"uuid", m.uuid},
            {"serial", m.serial}, {"possible-clone", m.possibleClone}, {"keys", keys}, {"scans", scans}};
}

Response machineAnswer(StorePool& stores, const Request& request, bool api) {
    auto who = whoAsks(stores, request, api);
    if (auto* answer = std::get_if<Response>(&who)) return *answer;
    const auto& viewer = std::get<fleet::Viewer>(who);
    auto id = idIn(request.path, api ? "/api/v1/machines/" : "/machines/");
    auto notFound = [&]() {
        if (api) return errorResponse(404, "there is no such machine");
        return htmlPage(404, consolePage("No such machine", &viewer, "<p><a href=\"/\">Back to the fleet</a></p>"));
    };
    if (!id) return notFound();
    auto lease = stores.acquire();
    if (!lease) return storeUnavailable("the store cannot be reached; try again later");
    auto machine = fleet::readMachine((*lease)->connection(), *id);
    if (!machine) {
        lease->discard();
        return storeUnavailable("the store cannot be read: " + machine.failure().description);
    }
    if (!*machine) return notFound();
    if (api) return jsonAnswer(jsonOf(**machine));
    const std::string title = (*machine)->name.empty() ? "Machine " + std::to_string(*id) : (*machine)->name;
    return htmlPage(200, consolePage(title, &viewer, pageOf(**machine)));
}

}  // namespace

std::vector<Route> machineRoutes(StorePool& stores) {
    Route page{"GET", "/machines/", 0, [&stores](const Request& request) { return machineAnswer(stores, request, false); }};
    page.prefix = true;
    Route api{"GET", "/api/v1/machines/", 0,
              [&stores](const Request& request) { return machineAnswer(stores, request, true); }};
    api.prefix = true;
    return {page, api};
}

}  // namespace veltrix::server
