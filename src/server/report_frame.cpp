// A stored scan's report, made again from its rows in the report's own
// look, for the machine page's sandboxed frame. It is served from a path of
// its own under a policy that runs nothing and loads nothing, so that even
// a report whose texts slipped past escaping could do no harm.
#include <charconv>

#include "report/html_writer.h"
#include "report/report_stream.h"
#include "server/console_page.h"
#include "server/console_request.h"
#include "server/console_routes.h"
#include "server/routes.h"
#include "store/stored_report.h"

namespace veltrix::server {
namespace {

// No script, no fetches, no forms; only the report's own inline style. The
// sandbox also holds when the report is opened outside its frame.
constexpr const char* kReportPolicy =
    "default-src 'none'; style-src 'unsafe-inline'; img-src 'none'; form-action 'none'; base-uri 'none'; "
    "frame-ancestors 'self'; sandbox";

constexpr std::string_view kNbsp = "&nbsp;";

class NoMessages final : public Messages {
public:
    void messageBox(std::string_view, MessageStyle, std::string_view) override {}
};

// An empty cell keeps its height, as the report's own empty cells do.
std::string cell(std::string_view text) { return text.empty() ? std::string(kNbsp) : escape(text); }

std::string reportPage(const data::Report& report) {
    NoMessages messages;
    MemoryReportStream page(messages);
    WriteHeader(escape(report.name) + ".htm", escape(report.comment), page);
    for (const auto& section : report.sections) {
        WriteTableHead(escape(section.title), page);
        bool first = true;
        for (const auto& item : section.items) {
            if (!first) WriteRow(kNbsp, kNbsp, page);
            first = false;
            for (const auto& row : item.rows) WriteRow(cell(row.label), cell(row.value), page);
        }
        if (section.title == "Installed Software") {
            for (const auto& program : report.software) WriteRow(cell(program.first), cell(program.second), page);
        } else if (section.title == "Hotfix") {
            for (const auto& fix : report.hotfixes) WriteRow(cell(fix.first), cell(fix.second), page);
        }
        if (section.error) {
            std::string_view errors = *section.error;
            for (std::size_t start = 0;;) {
                const std::size_t end = errors.find('\n', start);
                WriteRow("Error", cell(errors.substr(start, end - start)), page);
                if (end == std::string_view::npos) break;
                start = end + 1;
            }
        }
        WriteTableFoot(page);
    }
    WriteFooter(page);
    return page.bytes();
}

Response reportAnswer(StorePool& stores, const Request& request) {
    auto who = whoAsks(stores, request, false);
    if (auto* answer = std::get_if<Response>(&who)) return *answer;
    const auto& viewer = std::get<fleet::Viewer>(who);
    auto notFound = [&]() {
        return htmlPage(404, consolePage("No such report", &viewer, "<p><a href=\"/\">Back to the fleet</a></p>"));
    };
    std::string_view digits = std::string_view(request.path).substr(std::string_view("/reports/").size());
    std::int64_t scanId = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), scanId);
    if (error != std::errc() || end != digits.data() + digits.size() || scanId <= 0) return notFound();
    auto lease = stores.acquire();
    if (!lease) return storeUnavailable("the store cannot be reached; try again later");
    auto report = store::ReadStoredReport((*lease)->connection(), scanId);
    if (!report) {
        lease->discard();
        return storeUnavailable("the store cannot be read: " + report.failure().description);
    }
    if (!*report) return notFound();
    Response response;
    // The report's own encoding, as a saved report is.
    response.contentType = "text/html; charset=windows-1252";
    response.body = reportPage(**report);
    response.headers.emplace_back("Content-Security-Policy", kReportPolicy);
    return response;
}

}  // namespace

std::vector<Route> reportRoutes(StorePool& stores) {
    Route page{"GET", "/reports/", 0, [&stores](const Request& request) { return reportAnswer(stores, request); }};
    page.prefix = true;
    return {page};
}

}  // namespace veltrix::server
