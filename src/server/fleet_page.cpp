// The fleet: every machine from its newest scan, as a page with sortable
// columns, a text filter and pages of 100, and the same lines as CSV and
// JSON with the same filters.
#include <nlohmann/json.hpp>

#include "data/report_export.h"
#include "fleet/fleet_list.h"
#include "server/console_page.h"
#include "server/console_request.h"
#include "server/console_routes.h"
#include "server/routes.h"

namespace veltrix::server {
namespace {

fleet::FleetQuery queryOf(const Request& request) {
    return fleet::fleetQueryFrom(formField(request.query, "q"), formField(request.query, "sort"),
                                 formField(request.query, "order"), formField(request.query, "page"));
}

const char* keyOf(fleet::FleetColumn column) {
    for (const auto& info : fleet::fleetColumns()) {
        if (info.column == column) return info.key;
    }
    return "name";
}

// A link to the same list with some of its settings changed.
std::string listLink(const fleet::FleetQuery& query, fleet::FleetColumn sort, bool descending, std::size_t page,
                     std::string_view format = {}) {
    std::string link = "/?sort=" + std::string(keyOf(sort));
    if (descending) link += "&order=desc";
    if (!query.filter.empty()) link += "&q=" + urlEncode(query.filter);
    if (page > 1) link += "&page=" + std::to_string(page);
    if (!format.empty()) link += "&format=" + std::string(format);
    return link;
}

Result<fleet::FleetList> readList(StorePool& stores, const fleet::FleetQuery& query, Response& unavailable) {
    auto lease = stores.acquire();
    if (!lease) {
        unavailable = storeUnavailable("the store cannot be reached; try again later");
        return Failure{503, "unavailable"};
    }
    auto list = fleet::listFleet((*lease)->connection(), query, secondsNow());
    if (!list) {
        lease->discard();
        unavailable = storeUnavailable("the store cannot be read: " + list.failure().description);
    }
    return list;
}

std::string csvOf(const fleet::FleetList& list) {
    std::string csv = "ID";
    for (const auto& info : fleet::fleetColumns()) csv += std::string(",") + data::CsvField(info.title);
    csv += ",Not seen for 30 days\r\n";
    for (const auto& entry : list.lines) {
        csv += std::to_string(entry.line.machineId);
        for (const auto& info : fleet::fleetColumns()) csv += "," + data::CsvField(fleet::fleetCell(entry.line, info.column));
        csv += entry.stale ? ",yes\r\n" : ",no\r\n";
    }
    return csv;
}

nlohmann::json jsonOf(const fleet::FleetList& list) {
    nlohmann::json lines = nlohmann::json::array();
    for (const auto& entry : list.lines) {
        const auto& l = entry.line;
        nlohmann::json line{{"id", l.machineId},        {"name", l.machine},      {"host-name", l.hostName},
                            {"maker-model", l.makerModel}, {"serial", l.serial},  {"cpu", l.cpu},
                            {"ram-total", l.ramTotal},  {"disks", l.disks},       {"os", l.os},
                            {"scans", l.scans},         {"last-seen", l.lastSeen}, {"stale", entry.stale},
                            {"possible-clone", !l.flags.empty()}};
        line["programs"] = l.programsCollected ? nlohmann::json(l.programs) : nlohmann::json(nullptr);
        lines.push_back(std::move(line));
    }
    return nlohmann::json{{"machines", list.machines}, {"matching", list.matching}, {"more", list.more},
                          {"stale", list.stale},       {"page", list.page},         {"pages", list.pages},
                          {"lines", std::move(lines)}};
}

std::string pageOf(const fleet::FleetList& list, const fleet::FleetQuery& query) {
    std::string content = "<p class=\"counts\">" + std::to_string(list.machines) + " machines";
    if (!query.filter.empty()) {
        content += std::string(list.more ? ", more than " : ", ") + std::to_string(list.matching) + " matching";
    }
    content += ", " + std::to_string(list.stale) + " not seen for " + std::to_string(fleet::kStaleDays) +
               " days</p>\n";
    content += "<form method=\"get\" action=\"/\" role=\"search\">"
               "<label for=\"q\">Filter</label><input id=\"q\" name=\"q\" value=\"" + escape(query.filter) + "\">"
               "<input type=\"hidden\" name=\"sort\" value=\"" + std::string(keyOf(query.sort)) + "\">";
    if (query.descending) content += "<input type=\"hidden\" name=\"order\" value=\"desc\">";
    content += " <button type=\"submit\">Filter</button></form>\n";
    content += "<p>As <a href=\"" + escape(listLink(query, query.sort, query.descending, list.page, "csv")) +
               "\">CSV</a> or <a href=\"" + escape(listLink(query, query.sort, query.descending, list.page, "json")) +
               "\">JSON</a></p>\n";
    content += "<table><thead><tr>";
    for (const auto& info : fleet::fleetColumns()) {
        const bool sorted = info.column == query.sort;
        const bool nextDescending = sorted && !query.descending;
        content += "<th scope=\"col\"";
        if (sorted) content += query.descending ? " aria-sort=\"descending\"" : " aria-sort=\"ascending\"";
        content += "><a href=\"" + escape(listLink(query, info.column, nextDescending, 1)) + "\">" + info.title;
        if (sorted) content += query.descending ? " &#9660;" : " &#9650;";
        content += "</a></th>";
    }
    content += "</tr></thead>\n<tbody>\n";
    for (const auto& entry : list.lines) {
        content += entry.stale ? "<tr class=\"stale\">" : "<tr>";
        for (const auto& info : fleet::fleetColumns()) {
            std::string cell = escape(fleet::fleetCell(entry.line, info.column));
            if (info.column == fleet::FleetColumn::Name) {
                if (cell.empty()) cell = "(no name)";
                cell = "<a href=\"/machines/" + std::to_string(entry.line.machineId) + "\">" + cell + "</a>";
                if (!entry.line.flags.empty()) cell += " <strong>" + escape(entry.line.flags) + "</strong>";
            }
            if (info.column == fleet::FleetColumn::LastSeen && entry.stale) cell += " (not seen for 30 days)";
            content += "<td>" + cell + "</td>";
        }
        content += "</tr>\n";
    }
    content += "</tbody></table>\n";
    if (list.pages > 1 || list.more) {
        content += "<nav aria-label=\"Pages of the list\"><p>Page " + std::to_string(list.page) + " of " +
                   (list.more ? "more than " : "") + std::to_string(list.pages);
        if (list.page > 1) {
            content += " <a href=\"" + escape(listLink(query, query.sort, query.descending, list.page - 1)) +
                       "\">Previous</a>";
        }
        if (list.page < list.pages || list.more) {
            content += " <a href=\"" + escape(listLink(query, query.sort, query.descending, list.page + 1)) +
                       "\">Next</a>";
        }
        content += "</p></nav>\n";
    }
    return content;
}

Response fleetAnswer(StorePool& stores, const Request& request, bool api) {
    auto who = whoAsks(stores, request, api);
    if (auto* answer = std::get_if<Response>(&who)) return *answer;
    const auto& viewer = std::get<fleet::Viewer>(who);
    const fleet::FleetQuery query = queryOf(request);
    Response unavailable;
    auto list = readList(stores, query, unavailable);
    if (!list) return unavailable;
    const std::string format = formField(request.query, "format");
    if (api || format == "json") return jsonAnswer(jsonOf(*list));
    if (format == "csv") {
        Response response;
        response.contentType = "text/csv; charset=utf-8";
        response.headers.emplace_back("Content-Disposition", "attachment; filename=\"fleet.csv\"");
        response.body = csvOf(*list);
        return response;
    }
    return htmlPage(200, consolePage("Fleet", &viewer, pageOf(*list, query)));
}

}  // namespace

std::vector<Route> fleetRoutes(StorePool& stores) {
    return {
        Route{"GET", "/", 0, [&stores](const Request& request) { return fleetAnswer(stores, request, false); }},
        Route{"GET", "/api/v1/machines", 0,
              [&stores](const Request& request) { return fleetAnswer(stores, request, true); }},
    };
}

}  // namespace veltrix::server
