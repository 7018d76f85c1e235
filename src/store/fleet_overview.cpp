#include "store/fleet_overview.h"

#include "data/report_export.h"
#include "report/encoding.h"
#include "report/text.h"

namespace veltrix::store {
namespace {

constexpr const char* kColumns[] = {"Machine", "Serial",    "Scans",  "Generated",        "Maker / Model",
                                    "CPU",     "RAM total", "Disks",  "Operating system", "Programs",
                                    "Flags"};
// The date stays on one line however narrow the page.
constexpr std::size_t kGeneratedColumn = 3;

std::vector<std::string> fields(const OverviewLine& line) {
    return {line.machine,
            line.serial,
            std::to_string(line.scans),
            line.generated.empty() ? "unknown" : line.generated,
            line.makerModel,
            line.cpu,
            line.ramTotal,
            line.disks,
            line.os,
            line.programsCollected ? std::to_string(line.programs) : "not collected",
            line.flags};
}

}  // namespace

std::string OverviewColumnsSql() {
    return "s.name, s.generated, s.maker_model, s.cpu, s.ram_total, s.disks, s.os, s.programs, s.serial, s.scans, "
           "s.programs_collected, (SELECT possible_clone FROM machines m WHERE m.id = s.machine_id), s.machine_id, "
           "s.host_name, s.last_seen";
}

OverviewLine OverviewLineOf(const SqlRow& row) {
    auto text = [&row](int column) { return std::string(row.text(column).value_or("")); };
    OverviewLine line{text(0), text(1), text(2), text(3), text(4), text(5), text(6), row.integer(7), text(8),
                      row.integer(9)};
    line.programsCollected = row.integer(10) != 0;
    if (row.integer(11) != 0) line.flags = "possible clone";
    line.machineId = row.integer(12);
    line.hostName = text(13);
    line.lastSeen = text(14);
    return line;
}

Result<std::vector<OverviewLine>> readOverview(SqlConnection& connection) {
    std::vector<OverviewLine> lines;
    Status status = connection.query("SELECT " + OverviewColumnsSql() +
                                         " FROM machine_summary s ORDER BY s.name, s.machine_id",
                                     {}, [&](const SqlRow& row) { lines.push_back(OverviewLineOf(row)); });
    if (!status.ok()) return status.failure;
    return lines;
}

std::string overviewPage(const std::vector<OverviewLine>& lines) {
    std::string page;
    auto line = [&page](std::string_view text) {
        page += text;
        page += "\r\n";
    };
    const std::string cell = "<td bgcolor='#d9d9d9' class='td1'>";
    line("<html><head>");
    line("<title>Veltrix fleet overview</title>");
    line("<style type='text/css'>");
    line("<!--");
    line("body {  background-color: #FFFFFF;}");
    line("td {font-family: Arial;     font-size: 11px; }");
    line(".td1   { font-family: Arial;     font-size: 11px;  border: 1px solid #666666; }");
    line("-->");
    line("</style>");
    line("</head>");
    line("<body topmargin='0' leftmargin='0'>");
    line("<table border='0' cellspacing='0' cellpadding='0'>");
    line("<tr><td width='10' bgcolor='#d9d9d9'>&nbsp;</td>");
    line("<td bgcolor='#d9d9d9' height='50'><font face='Arial' color='#000000' size='4'><strong>VELTRIX Fleet "
         "overview</strong></font></td>");
    line("<td bgcolor='#d9d9d9' align='right'><font face='Arial' color='#f70816' size='4'><strong>NORVANE "
         "Computing GmbH&nbsp;&nbsp;</strong></font></td>");
    line("<td width='10' bgcolor='#d9d9d9'>&nbsp;</td>");
    line("</tr>");
    line("<tr><td>&nbsp;</td><td colspan='3'>&nbsp;</td></tr>");
    line("<tr><td>&nbsp;</td><td colspan='3'><font size='4'>Machines: " + std::to_string(lines.size()) +
         "</font></td></tr>");
    line("<tr><td>&nbsp;</td><td colspan='2'>");
    line("<table border='0' cellpadding='2' cellspacing='0' style='border-collapse:collapse'>");
    std::string head = "<tr>";
    for (const char* column : kColumns) {
        head += "<td bgcolor='#000000' class='td1'><font face='Arial' color='#ffffff' ><strong>&nbsp;";
        head += column;
        head += "</strong></font></td>";
    }
    line(head + "</tr>");
    const std::string oneLineCell = "<td bgcolor='#d9d9d9' class='td1' nowrap>";
    for (const auto& entry : lines) {
        std::string row = "<tr>";
        const auto values = fields(entry);
        for (std::size_t i = 0; i < values.size(); ++i) {
            row += (i == kGeneratedColumn ? oneLineCell : cell) + EscapeHtml(values[i]) + "&nbsp;</td>";
        }
        line(encodeCp1252(row + "</tr>"));
    }
    line("</table><br>");
    line("</td></tr></table>");
    line("</body></html>");
    return page;
}

std::string overviewCsv(const std::vector<OverviewLine>& lines) {
    std::string text;
    for (std::size_t i = 0; i < std::size(kColumns); ++i) text += (i ? "," : "") + data::CsvField(kColumns[i]);
    text += "\r\n";
    for (const auto& entry : lines) {
        auto values = fields(entry);
        for (std::size_t i = 0; i < values.size(); ++i) text += (i ? "," : "") + data::CsvField(values[i]);
        text += "\r\n";
    }
    return text;
}

}  // namespace veltrix::store
