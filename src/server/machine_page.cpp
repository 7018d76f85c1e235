// One machine: its identity, how each scan recognised it, and its scans as a
// timeline, as a page and as JSON.
#include <charconv>

#include <nlohmann/json.hpp>

#include "fleet/changes.h"
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
    content += "</tbody></table>\n";
    content += "<h2>Scans</h2>\n<table><thead><tr>";
    for (const char* heading : {"Taken", "Report name", "Recognised by", "Source", "Comment",
                                "Changes since the scan before"}) {
        content += std::string("<th scope=\"col\" class=\"whole\">") + heading + "</th>";
    }
    content += "</tr></thead><tbody>\n";
    for (std::size_t i = 0; i < m.scans.size(); ++i) {
        const auto& scan = m.scans[i];
        content += "<tr><td>" + escape(scan.takenAt.empty() ? "unknown" : scan.takenAt) + "</td><td>" +
                   escape(scan.designation) + "</td><td>" + escape(scan.matchedBy) + "</td><td>" + escape(scan.source) +
                   "</td><td>" + escape(scan.comment) + "</td><td>";
        if (i + 1 == m.scans.size()) {
            content += "first scan";
        } else if (scan.changes.empty()) {
            content += "none";
        } else {
            content += "<ul class=\"changes\">";
            for (const auto& change : scan.changes) {
                content += "<li><strong>" + escape(fleet::sectionTitle(change.section)) + "</strong> " +
                           escape(change.kind) + ": " + escape(change.caption);
                if (!change.detail.empty()) content += " <span class=\"detail\">" + escape(change.detail) + "</span>";
                content += "</li>";
            }
            content += "</ul>";
        }
        content += " <a href=\"/reports/" + std::to_string(scan.id) + "\">(its report)</a></td></tr>\n";
    }
    content += "</tbody></table>\n";
    if (!m.scans.empty()) {
        // The store keeps a scan's rows, not its page: the report is made
        // again from them, in a frame that may run nothing.
        const std::string report = "/reports/" + std::to_string(m.scans.front().id);
        content += "<h2>Newest report</h2>\n<p>Made again from what the store keeps of the newest scan. "
                   "<a href=\"" + report + "\">Open it on its own</a></p>\n"
                   "<iframe class=\"report\" sandbox src=\"" + report + "\" title=\"The newest report\"></iframe>\n";
    }
    return content;
}

nlohmann::json jsonOf(const fleet::MachineHistory& m) {
    nlohmann::json keys = nlohmann::json::array(), scans = nlohmann::json::array();
    for (const auto& [kind, value] : m.keys) keys.push_back({{"kind", kind}, {"value", value}});
    for (const auto& s : m.scans) {
        nlohmann::json changes = nlohmann::json::array();
        for (const auto& c : s.changes) {
            changes.push_back({{"section", c.section}, {"change", c.kind}, {"what", c.caption}, {"detail", c.detail}});
        }
        scans.push_back({{"id", s.id}, {"name", s.designation}, {"taken", s.takenAt}, {"matched-by", s.matchedBy},
                         {"source", s.source}, {"comment", s.comment}, {"report", "/reports/" + std::to_string(s.id)},
                         {"changes", std::move(changes)}});
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
