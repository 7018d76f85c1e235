#include "report/html_writer.h"

#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace veltrix {

namespace {

// Writes every line, going on after a failed one, then shows the operation's
// own message once if anything failed. The scan's pending error is not ours
// to touch.
void writeLines(ReportStream& out, std::span<const std::string_view> lines, std::string_view message) {
    bool failed = false;
    for (std::string_view line : lines) {
        if (!out.writeLine(line).ok()) failed = true;
    }
    if (failed) out.messages().messageBox(message, MessageStyle::Critical);
}

void writeLines(ReportStream& out, std::initializer_list<std::string_view> lines, std::string_view message) {
    writeLines(out, std::span<const std::string_view>(lines.begin(), lines.size()), message);
}

// The comment is one header line: its line breaks (CR LF, LF or a lone CR)
// become <br>, so the page still shows them and the header keeps its lines;
// other control characters but TAB become a space.
std::string commentText(std::string_view comment) {
    std::string out;
    out.reserve(comment.size());
    for (std::size_t i = 0; i < comment.size(); ++i) {
        const char c = comment[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < comment.size() && comment[i + 1] == '\n') ++i;
            out += "<br>";
        } else if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == '\x7F') {
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

// The messages below begin "Error occure while writing": fixed output, the
// system's own wording, kept as people and scripts know it.
void WriteHeader(std::string_view title, std::string_view comment, ReportStream& out) {
    const std::string titleLine = "<title>" + std::string(title) + "</title>";
    std::string_view designation = title.size() >= 4 ? title.substr(0, title.size() - 4) : std::string_view{};
    const std::string designationLine =
        "<tr><td>&nbsp;</td><td colspan='3'><font size='4'>Designation: " + std::string(designation) +
        "</font></td></tr>";
    const std::string commentLine = "<tr><td>&nbsp;</td><td colspan='3'><br><B>Comment:</B>&nbsp; " +
                                    commentText(comment) + "<br><br></font></td></tr>";
    std::vector<std::string_view> lines = {
        "<html><head>",
        titleLine,
        "<!-- Version 4.1 -->",
        "<style type='text/css'>",
        "<!--",
        "body {  background-color: #FFFFFF;}",
        "td {font-family: Arial;     font-size: 11px; }",
        ".td1   { font-family: Arial;     font-size: 11px;  border: 1px solid #666666; }",
        "-->",
        "</style>",
        "</head>",
        "<body topmargin='0' leftmargin='0'>",
        "",
        "<table width='710' border='0' cellspacing='0' cellpadding='0'>",
        "<tr><td width='10' bgcolor='#d9d9d9'>&nbsp;</td>",
        "<td bgcolor='#d9d9d9' height='50'><font face='Arial' color='#000000' size='4'><strong>VELTRIX "
        "Result</strong></font>",
        "<td bgcolor='#d9d9d9' align='right'><font face='Arial' color='#f70816' size='4'><strong>NORVANE "
        "Computing GmbH&nbsp;&nbsp;</strong></font></td>",
        "<td width='10' bgcolor='#d9d9d9'>&nbsp;</td>",
        "</tr>",
        "<tr><td>&nbsp;</td><td colspan='3'>&nbsp;</td></tr>",
        designationLine,
    };
    if (!comment.empty()) lines.push_back(commentLine);
    lines.push_back("<tr><td>&nbsp;</td><td colspan='2'>");
    writeLines(out, lines, "Error occure while writing the header of output-file.");
}

void WriteFooter(ReportStream& out) {
    writeLines(out, {"</td></tr></table>", "</body></html>"},
               "Error occure while writing the footer of output-file.");
}

void WriteTableHead(std::string_view title, ReportStream& out) {
    const std::string bar = "<tr><td bgcolor='#000000' class='td1'><font face='Arial' color='#ffffff' "
                            "><strong>&nbsp;" + std::string(title) + "</strong></td></tr>";
    writeLines(out, {"<table border='0' cellpadding='2' cellspacing='0' style='border-collapse:collapse'>", bar},
               "Error occure while writing a head of table from output-file.");
}

void WriteRow(std::string_view label, std::string_view value, ReportStream& out) {
    // In pieces: a value may be a whole list (the installed software), which
    // the stream then need not copy.
    const Status written = out.writeLineOf({"<tr><td width='150' bgcolor='#d9d9d9' class='td1'>", label,
                                            "</td><td width='550' bgcolor='#d9d9d9' class='td1'>", value,
                                            "</td></tr>"});
    if (!written.ok()) out.messages().messageBox("Error occure while writing a row of output-file.", MessageStyle::Critical);
}

void WriteTableFoot(ReportStream& out) {
    writeLines(out, {"</table><br>"}, "Error occure while writing a footer of table from output-file.");
}

}  // namespace veltrix
