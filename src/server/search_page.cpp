// Search: where a program is installed, and machines by RAM, disk size,
// model or operating system; as a page, CSV and JSON with the same fields.
#include <nlohmann/json.hpp>

#include "data/report_export.h"
#include "fleet/search.h"
#include "server/console_page.h"
#include "server/console_request.h"
#include "server/console_routes.h"
#include "server/csv_answer.h"
#include "server/routes.h"

namespace veltrix::server {
namespace {

struct Field {
    const char* name;   // in the query
    const char* label;  // on the form
};
constexpr Field kFields[] = {
    {"program", "Program name contains"}, {"version", "Program version contains"},
    {"ram-min", "RAM at least (GB)"},     {"ram-max", "RAM at most (GB)"},
    {"disk-min", "Disks at least (GB, all disks together)"}, {"disk-max", "Disks at most (GB)"},
    {"model", "Maker or model contains"}, {"os", "Operating system contains"},
};

// The fields as given, cut as the search cuts them, for the form and links.
std::vector<std::pair<std::string, std::string>> givenFields(const Request& request) {
    std::vector<std::pair<std::string, std::string>> given;
    for (const auto& field : kFields) {
        std::string value = formField(request.query, field.name).substr(0, fleet::kSearchTextLimit);
        if (!value.empty()) given.emplace_back(field.name, std::move(value));
    }
    return given;
}

std::string searchLink(const std::vector<std::pair<std::string, std::string>>& given, std::size_t page,
                       std::string_view format = {}) {
    std::string link = "/search?";
    for (const auto& [name, value] : given) link += name + "=" + urlEncode(value) + "&";
    if (page > 1) link += "page=" + std::to_string(page) + "&";
    if (!format.empty()) link += "format=" + std::string(format) + "&";
    link.pop_back();
    return link;
}

std::string ramText(const fleet::MachineFigures& m) {
    return m.ramMegabytes ? std::to_string(*m.ramMegabytes) + " MB" : std::string();
}
std::string diskText(const fleet::MachineFigures& m) {
    return m.diskGigabytes ? std::to_string(*m.diskGigabytes) + " GB" : std::string();
}
std::string programsText(const fleet::SearchHit& hit) {
    std::string text;
    for (const auto& [name, version] : hit.programs) text += (text.empty() ? "" : "; ") + name + " " + version;
    return text;
}

nlohmann::json jsonOf(const fleet::SearchResult& result) {
    nlohmann::json hits = nlohmann::json::array();
    for (const auto& hit : result.hits) {
        const auto& m = hit.machine;
        nlohmann::json programs = nlohmann::json::array();
        for (const auto& [name, version] : hit.programs) programs.push_back({{"name", name}, {"version", version}});
        hits.push_back({{"id", m.machineId}, {"name", m.name}, {"host-name", m.hostName},
                        {"maker-model", m.makerModel()}, {"os", m.os},
                        {"ram-mb", m.ramMegabytes ? nlohmann::json(*m.ramMegabytes) : nlohmann::json(nullptr)},
                        {"disk-gb", m.diskGigabytes ? nlohmann::json(*m.diskGigabytes) : nlohmann::json(nullptr)},
                        {"last-seen", m.lastSeen}, {"programs", std::move(programs)}});
    }
    return {{"matching", result.matching}, {"page", result.page}, {"pages", result.pages}, {"machines", std::move(hits)}};
}

std::string csvOf(const fleet::SearchResult& result) {
    std::string csv = "ID,Name,Host name,Maker / model,RAM total,Disks,Operating system,Last seen,Programs\r\n";
    for (const auto& hit : result.hits) {
        const auto& m = hit.machine;
        csv += std::to_string(m.machineId);
        for (const std::string& field : {m.name, m.hostName, m.makerModel(), ramText(m), diskText(m), m.os, m.lastSeen,
                                         programsText(hit)}) {
            csv += "," + data::CsvField(field);
        }
        csv += "\r\n";
    }
    return csv;
}

std::string pageOf(const fleet::SearchResult& result, const fleet::SearchQuery& query,
                   const std::vector<std::pair<std::string, std::string>>& given,
                   const std::vector<std::string>& rejected) {
    std::string content = "<form method=\"get\" action=\"/search\" role=\"search\" class=\"fields\">\n";
    for (const auto& field : kFields) {
        std::string value;
        for (const auto& [name, v] : given) {
            if (name == field.name) value = v;
        }
        content += "<p><label for=\"" + std::string(field.name) + "\">" + field.label + "</label><input id=\"" +
                   field.name + "\" name=\"" + field.name + "\" value=\"" + escape(value) + "\"";
        if (std::string_view(field.name).find("-m") != std::string_view::npos) {
            content += " inputmode=\"numeric\" pattern=\"[0-9]*\"";
        }
        content += "></p>\n";
    }
    content += "<p><button type=\"submit\">Search</button></p></form>\n";
    for (const auto& name : rejected) {
        content += "<p class=\"error\" role=\"alert\">" + escape(name) + " is not a whole number of GB: it was left out.</p>\n";
    }
    if (query.empty()) {
        content += "<p>Give a program, a version, a range of RAM or disk size, a model or an operating system.</p>\n";
        return content;
    }
    const bool programs = !query.program.empty() || !query.version.empty();
    content += "<p class=\"counts\" role=\"status\">" + std::to_string(result.matching) + " machines found</p>\n";
    content += "<p>As <a href=\"" + escape(searchLink(given, result.page, "csv")) + "\">CSV</a> or <a href=\"" +
               escape(searchLink(given, result.page, "json")) + "\">JSON</a></p>\n";
    if (result.hits.empty()) return content;
    content += "<table><thead><tr><th scope=\"col\">Name</th><th scope=\"col\">Host name</th>"
               "<th scope=\"col\">Maker / model</th><th scope=\"col\">RAM total</th><th scope=\"col\">Disks</th>"
               "<th scope=\"col\">Operating system</th><th scope=\"col\">Last seen</th>";
    if (programs) content += "<th scope=\"col\">Programs found</th>";
    content += "</tr></thead>\n<tbody>\n";
    for (const auto& hit : result.hits) {
        const auto& m = hit.machine;
        const std::string name = m.name.empty() ? "(no name)" : escape(m.name);
        content += "<tr><td><a href=\"/machines/" + std::to_string(m.machineId) + "\">" + name + "</a></td><td>" +
                   escape(m.hostName) + "</td><td>" + escape(m.makerModel()) + "</td><td>" + escape(ramText(m)) +
                   "</td><td>" + escape(diskText(m)) + "</td><td>" + escape(m.os) + "</td><td>" +
                   escape(m.lastSeen.empty() ? "unknown" : m.lastSeen) + "</td>";
        if (programs) {
            content += "<td>";
            for (std::size_t i = 0; i < hit.programs.size(); ++i) {
                content += (i ? "<br>" : "") + escape(hit.programs[i].first) + " " + escape(hit.programs[i].second);
            }
            content += "</td>";
        }
        content += "</tr>\n";
    }
    content += "</tbody></table>\n";
    if (result.pages > 1) {
        content += "<nav aria-label=\"Pages of the results\"><p>Page " + std::to_string(result.page) + " of " +
                   std::to_string(result.pages);
        if (result.page > 1) content += " <a href=\"" + escape(searchLink(given, result.page - 1)) + "\">Previous</a>";
        if (result.page < result.pages) {
            content += " <a href=\"" + escape(searchLink(given, result.page + 1)) + "\">Next</a>";
        }
        content += "</p></nav>\n";
    }
    return content;
}

Response searchAnswer(StorePool& stores, const Request& request, bool api) {
    auto who = whoAsks(stores, request, api);
    if (auto* answer = std::get_if<Response>(&who)) return *answer;
    const auto& viewer = std::get<fleet::Viewer>(who);
    auto field = [&](const char* name) { return validUtf8(formField(request.query, name)); };
    std::vector<std::string> rejected;
    const fleet::SearchQuery query =
        fleet::searchQueryFrom(field("program"), field("version"), field("ram-min"), field("ram-max"),
                               field("disk-min"), field("disk-max"), field("model"), field("os"), field("page"),
                               &rejected);
    const std::string format = field("format");
    if ((api || format == "json" || format == "csv") && !rejected.empty()) {
        return errorResponse(400, rejected.front() + " is not a whole number of GB");
    }
    auto lease = stores.acquire();
    if (!lease) return storeUnavailable("the store cannot be reached; try again later");
    auto result = fleet::searchFleet((*lease)->connection(), query);
    if (!result) {
        lease->discard();
        return storeUnavailable("the store cannot be read: " + result.failure().description);
    }
    if (api || format == "json") return jsonAnswer(jsonOf(*result));
    if (format == "csv") return csvAnswer(csvOf(*result), "search.csv");
    return htmlPage(200, consolePage("Search", &viewer, pageOf(*result, query, givenFields(request), rejected)));
}

}  // namespace

std::vector<Route> searchRoutes(StorePool& stores) {
    return {
        Route{"GET", "/search", 0, [&stores](const Request& request) { return searchAnswer(stores, request, false); }},
        Route{"GET", "/api/v1/search", 0,
              [&stores](const Request& request) { return searchAnswer(stores, request, true); }},
    };
}

}  // namespace veltrix::server
