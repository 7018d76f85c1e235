#include "store/fleet_overview.h"

#include <charconv>
#include <unordered_map>

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

// The figures of one machine while its rows stream past.
struct Gathered {
    std::string maker;
    std::string model;
    std::vector<std::string> cpus;
    std::int64_t ramMegabytes = 0;
    bool ramSeen = false;
    std::vector<std::pair<std::string, std::string>> disks;  // model, size
    std::int64_t lastDiskItem = -1;
};

void appendJoined(std::string& out, std::string_view piece, std::string_view separator) {
    if (piece.empty()) return;
    if (!out.empty()) out += separator;
    out += piece;
}

std::string cpuText(const std::vector<std::string>& cpus) {
    if (cpus.empty()) return {};
    bool allSame = true;
    for (const auto& cpu : cpus) allSame = allSame && cpu == cpus.front();
    if (allSame) return cpus.size() > 1 ? std::to_string(cpus.size()) + " x " + cpus.front() : cpus.front();
    std::string text;
    for (const auto& cpu : cpus) appendJoined(text, cpu, "; ");
    return text;
}

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

Result<std::vector<OverviewLine>> readOverview(SqlConnection& connection) {
    std::vector<OverviewLine> lines;
    std::unordered_map<std::int64_t, std::size_t> byScan;
    Status status = connection.query(
        "SELECT l.id, l.machine, l.generated, (SELECT COUNT(*) FROM software s WHERE s.scan_id = l.id), m.serial, "
        "(SELECT COUNT(*) FROM scans c WHERE c.machine_id = l.machine_id), n.software_collected, m.possible_clone "
        "FROM latest l JOIN machines m ON m.id = l.machine_id JOIN scans n ON n.id = l.id ORDER BY l.machine, m.id",
        {}, [&](const SqlRow& row) {
            byScan.emplace(row.integer(0), lines.size());
            OverviewLine line{std::string(row.text(1).value_or("")), std::string(row.text(2).value_or(""))};
            line.programs = row.integer(3);
            line.serial = std::string(row.text(4).value_or(""));
            line.scans = row.integer(5);
            line.programsCollected = row.integer(6) != 0;
            if (row.integer(7) != 0) line.flags = "possible clone";
            lines.push_back(std::move(line));
        });
    if (!status.ok()) return status.failure;

    std::vector<Gathered> gathered(lines.size());
    status = connection.query(
        // CROSS JOIN keeps SQLite walking the newest scans and seeking their
        // rows, rather than reading every row of every scan.
        "SELECT r.scan_id, r.section, r.item, r.label, r.value FROM latest l CROSS JOIN \"rows\" r "
        "WHERE r.scan_id = l.id AND ((r.section = 'CPU' AND r.label = 'Name') OR (r.section = 'Memory' AND r.label = 'Capacity') "
        "OR (r.section = 'HDD' AND r.label IN ('Model', 'Size')) "
        "OR (r.section = 'Systeminformation' AND r.label = 'Product') "
        "OR (r.section = 'Motherboard' AND r.label = 'Manufacturer (System)') "
        "OR (r.section = 'Operatingsystem' AND r.label = 'Name')) "
        "ORDER BY r.scan_id, r.position",
        {}, [&](const SqlRow& row) {
            auto found = byScan.find(row.integer(0));
            if (found == byScan.end()) return;
            OverviewLine& line = lines[found->second];
            Gathered& g = gathered[found->second];
            std::string_view section = row.text(1).value_or("");
            std::int64_t item = row.integer(2);
            std::string_view label = row.text(3).value_or("");
            std::string value(row.text(4).value_or(""));
            if (section == "CPU") {
                g.cpus.push_back(value);
            } else if (section == "Memory") {
                // "8192 MB"
                std::int64_t megabytes = 0;
                auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), megabytes);
                if (error == std::errc() && std::string_view(end, value.data() + value.size()) == " MB") {
                    g.ramMegabytes += megabytes;
                    g.ramSeen = true;
                }
            } else if (section == "HDD") {
                if (item != g.lastDiskItem) {
                    g.disks.emplace_back();
                    g.lastDiskItem = item;
                }
                (label == "Model" ? g.disks.back().first : g.disks.back().second) = value;
            } else if (section == "Systeminformation") {
                if (g.model.empty()) g.model = value;
            } else if (section == "Motherboard") {
                if (g.maker.empty()) g.maker = value;
            } else if (line.os.empty()) {
                line.os = value;
            }
        });
    if (!status.ok()) return status.failure;


    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Gathered& g = gathered[i];
        OverviewLine& line = lines[i];
        appendJoined(line.makerModel, g.maker, " / ");
        appendJoined(line.makerModel, g.model, " / ");
        line.cpu = cpuText(g.cpus);
        if (g.ramSeen) line.ramTotal = std::to_string(g.ramMegabytes) + " MB";
        for (const auto& [model, size] : g.disks) {
            appendJoined(line.disks, size.empty() ? model : model + " (" + size + ")", "; ");
        }
    }
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
