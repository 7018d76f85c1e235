// The dashboard: the fleet's figures drawn by the server as SVG bar charts
// inside the page (no script), each with the same figures as a table whose
// lines lead to the machines they count; and the figures as JSON.
#include <algorithm>

#include <nlohmann/json.hpp>

#include "fleet/dashboard.h"
#include "server/console_page.h"
#include "server/console_request.h"
#include "server/console_routes.h"
#include "server/csv_answer.h"
#include "data/report_export.h"
#include "server/routes.h"

namespace veltrix::server {
namespace {

constexpr int kWidth = 720, kLabelWidth = 330, kBarWidth = 320, kRowHeight = 28;
// What fits left of the bars at the labels' size; the whole text is in the
// bar's title and the table.
constexpr std::size_t kLabelCharacters = 32;

// At most `characters` characters, never cutting one in half.
std::string shortened(std::string_view text, std::size_t characters) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (count++ == characters) return std::string(text.substr(0, i)) + "\xE2\x80\xA6";  // an ellipsis
    }
    return std::string(text);
}

std::string searchLink(const fleet::DashboardBar& bar) {
    std::string link = "/search?";
    for (const auto& [name, value] : bar.search) link += name + "=" + urlEncode(value) + "&";
    link.pop_back();
    return link;
}

std::string chartSvg(const fleet::DashboardChart& chart) {
    std::size_t largest = 1;
    for (const auto& bar : chart.bars) largest = std::max(largest, bar.machines);
    const int height = static_cast<int>(chart.bars.size()) * kRowHeight + 8;
    const std::string id = "chart-" + chart.key;
    std::string svg = "<svg class=\"chart\" role=\"img\" aria-labelledby=\"" + id + "-title\" viewBox=\"0 0 " +
                      std::to_string(kWidth) + " " + std::to_string(height) + "\" width=\"100%\">"
                      "<title id=\"" + id + "-title\">" + escape(chart.title) + ": ";
    for (std::size_t i = 0; i < chart.bars.size(); ++i) {
        svg += (i ? ", " : "") + escape(chart.bars[i].label) + " " + std::to_string(chart.bars[i].machines);
    }
    svg += "</title>\n";
    int y = 4;
    for (const auto& bar : chart.bars) {
        const int length = bar.machines ? std::max(2, static_cast<int>(kBarWidth * bar.machines / largest)) : 0;
        svg += "<g><title>" + escape(bar.label) + ": " + std::to_string(bar.machines) + "</title>"
               "<text x=\"" + std::to_string(kLabelWidth - 8) + "\" y=\"" + std::to_string(y + 18) +
               "\" text-anchor=\"end\" font-size=\"15\" fill=\"#111\">" + escape(shortened(bar.label, kLabelCharacters)) +
               "</text><rect x=\"" + std::to_string(kLabelWidth) + "\" y=\"" + std::to_string(y + 3) + "\" width=\"" +
               std::to_string(length) + "\" height=\"" + std::to_string(kRowHeight - 8) +
               "\" fill=\"#1a5fb4\"/><text x=\"" + std::to_string(kLabelWidth + length + 6) + "\" y=\"" +
               std::to_string(y + 18) + "\" font-size=\"15\" fill=\"#111\">" + std::to_string(bar.machines) +
               "</text></g>\n";
        y += kRowHeight;
    }
    return svg + "</svg>\n";
}

std::string tableOf(const fleet::DashboardChart& chart) {
    std::string table = "<table class=\"figures\"><caption>" + escape(chart.title) +
                        "</caption><thead><tr><th scope=\"col\">" + std::string(chart.key == "seen" ? "Last seen" : "Group") +
                        "</th><th scope=\"col\">Machines</th></tr></thead><tbody>\n";
    for (const auto& bar : chart.bars) {
        std::string label = escape(bar.label);
        if (!bar.search.empty() && bar.machines) label = "<a href=\"" + escape(searchLink(bar)) + "\">" + label + "</a>";
        table += "<tr><td>" + label + "</td><td>" + std::to_string(bar.machines) + "</td></tr>\n";
    }
    return table + "</tbody></table>\n";
}

std::string pageOf(const fleet::Dashboard& dashboard) {
    std::string content = "<p class=\"counts\">" + std::to_string(dashboard.machines) +
                          " machines, counted from each one's newest scan. As <a href=\"/dashboard?format=json\">JSON</a>"
                          " or <a href=\"/dashboard?format=csv\">CSV</a>; the machines by when last seen: "
                          "<a href=\"/?sort=seen\">the fleet by last seen</a>.</p>\n";
    for (const auto& chart : dashboard.charts) {
        content += "<section class=\"chart\" aria-labelledby=\"" + chart.key + "-heading\"><h2 id=\"" + chart.key +
                   "-heading\">" + escape(chart.title) + "</h2>\n" + chartSvg(chart) + tableOf(chart) + "</section>\n";
    }
    return content;
}

nlohmann::json jsonOf(const fleet::Dashboard& dashboard) {
    nlohmann::json charts = nlohmann::json::array();
    for (const auto& chart : dashboard.charts) {
        nlohmann::json bars = nlohmann::json::array();
        for (const auto& bar : chart.bars) bars.push_back({{"label", bar.label}, {"machines", bar.machines}});
        charts.push_back({{"key", chart.key}, {"title", chart.title}, {"bars", std::move(bars)}});
    }
    return {{"machines", dashboard.machines}, {"charts", std::move(charts)}};
}

std::string csvOf(const fleet::Dashboard& dashboard) {
    std::string csv = "Chart,Group,Machines\r\n";
    for (const auto& chart : dashboard.charts) {
        for (const auto& bar : chart.bars) {
            csv += data::CsvField(chart.title) + "," + data::CsvField(bar.label) + "," + std::to_string(bar.machines) +
                   "\r\n";
        }
    }
    return csv;
}

Response dashboardAnswer(StorePool& stores, const Request& request, bool api) {
    auto who = whoAsks(stores, request, api);
    if (auto* answer = std::get_if<Response>(&who)) return *answer;
    const auto& viewer = std::get<fleet::Viewer>(who);
    auto lease = stores.acquire();
    if (!lease) return storeUnavailable("the store cannot be reached; try again later");
    auto dashboard = fleet::readDashboard((*lease)->connection(), secondsNow());
    if (!dashboard) {
        lease->discard();
        return storeUnavailable("the store cannot be read: " + dashboard.failure().description);
    }
    const std::string format = formField(request.query, "format");
    if (api || format == "json") return jsonAnswer(jsonOf(*dashboard));
    if (format == "csv") return csvAnswer(csvOf(*dashboard), "dashboard.csv");
    return htmlPage(200, consolePage("Dashboard", &viewer, pageOf(*dashboard)));
}

}  // namespace

std::vector<Route> dashboardRoutes(StorePool& stores) {
    return {
        Route{"GET", "/dashboard", 0,
              [&stores](const Request& request) { return dashboardAnswer(stores, request, false); }},
        Route{"GET", "/api/v1/dashboard", 0,
              [&stores](const Request& request) { return dashboardAnswer(stores, request, true); }},
    };
}

}  // namespace veltrix::server
