// What changed across the fleet, newest first: a page with named filters
// (section, kind of change, time) and pages of 100, each line linking to its
// machine, and the same lines as CSV and JSON with the same filters.
#include <nlohmann/json.hpp>

#include "data/report_export.h"
#include "fleet/changes.h"
#include "server/console_page.h"
#include "server/console_request.h"
#include "server/console_routes.h"
#include "server/routes.h"

namespace veltrix::server {
namespace {

fleet::ChangeQuery queryOf(const Request& request) {
    return fleet::changeQueryFrom(formField(request.query, "section"), formField(request.query, "change"),
                                  formField(request.query, "when"), formField(request.query, "page"));
}

// The same list with another page or format; every value is one of ours.
std::string listLink(const fleet::ChangeQuery& query, std::size_t page, std::string_view format = {}) {
    std::string link = "/changes";
    char separator = '?';
    auto add = [&](std::string_view name, std::string_view value) {
        if (value.empty()) return;
        link += separator + std::string(name) + "=" + urlEncode(value);
        separator = '&';
    };
    add("section", query.section);
    add("change", query.kind);
    add("when", query.when);
    if (page > 1) add("page", std::to_string(page));
    add("format", format);
    return link;
}

std::string unknownTime(const std::string& takenAt) { return takenAt.empty() ? "unknown" : takenAt; }

std::string csvOf(const fleet::ChangeList& list) {
    std::string csv = "Taken,Machine ID,Machine,Section,Change,What,Detail\r\n";
    for (const auto& line : list.lines) {
        csv += data::CsvField(unknownTime(line.takenAt)) + "," + std::to_string(line.machineId) + "," +
               data::CsvField(line.machine) + "," + data::CsvField(fleet::sectionTitle(line.section)) + "," +
               data::CsvField(line.kind) + "," + data::CsvField(line.caption) + "," + data::CsvField(line.detail) +
               "\r\n";
    }
    return csv;
}

nlohmann::json jsonOf(const fleet::ChangeList& list, const fleet::ChangeQuery& query) {
    nlohmann::json lines = nlohmann::json::array();
    for (const auto& l : list.lines) {
        lines.push_back({{"machine-id", l.machineId}, {"machine", l.machine},   {"scan-id", l.scanId},
                         {"taken", l.takenAt},        {"section", l.section},   {"section-title", fleet::sectionTitle(l.section)},
                         {"change", l.kind},          {"what", l.caption},      {"detail", l.detail}});
    }
    return {{"section", query.section}, {"change", query.kind}, {"when", query.when}, {"matching", list.matching},
            {"more", list.more},        {"page", list.page},        {"pages", list.pages},  {"lines", std::move(lines)}};
}

template <typename Infos>
std::string choice(const char* name, const char* label, const char* anyText, const Infos& infos,
                   const std::string& chosen) {
    std::string html = "<label for=\"" + std::string(name) + "\">" + label + "</label><select id=\"" + name +
                       "\" name=\"" + name + "\"><option value=\"\">" + anyText + "</option>";
    for (const auto& info : infos) {
        html += "<option value=\"" + std::string(info.key) + "\"" + (chosen == info.key ? " selected" : "") + ">" +
                info.title + "</option>";
    }
    return html + "</select>";
}

std::string pageOf(const fleet::ChangeList& list, const fleet::ChangeQuery& query) {
    std::string content = "<p class=\"counts\">" + std::string(list.more ? "more than " : "") +
                          std::to_string(list.matching) + (list.matching == 1 ? " change" : " changes") +
                          (list.more ? " (the first 100 pages are shown: choose a section or a time)" : "") + "</p>\n";
    content += "<form method=\"get\" action=\"/changes\" class=\"filters\">" +
               choice("section", "Section", "All sections", fleet::changeSections(), query.section) +
               choice("change", "Change", "Every change", fleet::changeKinds(), query.kind) +
               choice("when", "When", "Any time", fleet::changePeriods(), query.when) +
               " <button type=\"submit\">Show</button></form>\n";
    content += "<p>As <a href=\"" + escape(listLink(query, list.page, "csv")) + "\">CSV</a> or <a href=\"" +
               escape(listLink(query, list.page, "json")) + "\">JSON</a></p>\n";
    if (list.lines.empty()) return content + "<p>No changes match.</p>\n";
    content += "<table><thead><tr>";
    for (const char* heading : {"Taken", "Machine", "Section", "Change", "What", "Detail"}) {
        content += std::string("<th scope=\"col\" class=\"whole\">") + heading + "</th>";
    }
    content += "</tr></thead>\n<tbody>\n";
    for (const auto& line : list.lines) {
        const std::string name = line.machine.empty() ? "(no name)" : line.machine;
        // Times, sections and kinds are ours and short: they keep their
        // words whole, while a machine's own texts may break anywhere.
        content += "<tr><td class=\"whole\">" + escape(unknownTime(line.takenAt)) + "</td><td><a class=\"name\" href=\"/machines/" +
                   std::to_string(line.machineId) + "\">" + escape(name) + "</a></td><td class=\"whole\">" +
                   escape(fleet::sectionTitle(line.section)) + "</td><td class=\"whole\">" + escape(line.kind) +
                   "</td><td>" + escape(line.caption) + "</td><td class=\"detail\">" + escape(line.detail) +
                   "</td></tr>\n";
    }
    content += "</tbody></table>\n";
    if (list.pages > 1) {
        content += "<nav aria-label=\"Pages of the list\"><p>Page " + std::to_string(list.page) + " of " +
                   std::to_string(list.pages);
        if (list.page > 1) content += " <a href=\"" + escape(listLink(query, list.page - 1)) + "\">Previous</a>";
        if (list.page < list.pages) content += " <a href=\"" + escape(listLink(query, list.page + 1)) + "\">Next</a>";
        content += "</p></nav>\n";
    }
    return content;
}

Response changesAnswer(StorePool& stores, const Request& request, bool api) {
    auto who = whoAsks(stores, request, api);
    if (auto* answer = std::get_if<Response>(&who)) return *answer;
    const auto& viewer = std::get<fleet::Viewer>(who);
    const fleet::ChangeQuery query = queryOf(request);
    auto lease = stores.acquire();
    if (!lease) return storeUnavailable("the store cannot be reached; try again later");
    auto list = fleet::listChanges((*lease)->connection(), query, secondsNow());
    if (!list) {
        lease->discard();
        return storeUnavailable("the store cannot be read: " + list.failure().description);
    }
    const std::string format = formField(request.query, "format");
    if (api || format == "json") return jsonAnswer(jsonOf(*list, query));
    if (format == "csv") {
        Response response;
        response.contentType = "text/csv; charset=utf-8";
        response.headers.emplace_back("Content-Disposition", "attachment; filename=\"changes.csv\"");
        response.body = csvOf(*list);
        return response;
    }
    return htmlPage(200, consolePage("Changes", &viewer, pageOf(*list, query)));
}

}  // namespace

std::vector<Route> changesRoutes(StorePool& stores) {
    return {
        Route{"GET", "/changes", 0, [&stores](const Request& request) { return changesAnswer(stores, request, false); }},
        Route{"GET", "/api/v1/changes", 0,
              [&stores](const Request& request) { return changesAnswer(stores, request, true); }},
    };
}

}  // namespace veltrix::server
