#include "server/console_page.h"

#include "report/text.h"

namespace veltrix::server {

namespace {

// The length of the well-formed UTF-8 sequence at `at`, or 0.
std::size_t sequenceAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80) return 1;
    std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || at + length > text.size()) return 0;
    // The second byte's range rules out overlong forms, surrogates and
    // anything past U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
    }
    return length;
}

}  // namespace

std::string validUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (std::size_t length = sequenceAt(text, at)) {
            out.append(text.substr(at, length));
            at += length;
        } else {
            out += "\xEF\xBF\xBD";
            ++at;
        }
    }
    return out;
}

std::string escape(std::string_view text) { return EscapeHtml(validUtf8(text)); }

std::string consolePage(std::string_view title, const fleet::Viewer* viewer, std::string_view content) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        "<title>" + escape(title) + " - Veltrix fleet</title>"
        "<link rel=\"stylesheet\" href=\"/console.css\"></head><body>\n<header><span class=\"brand\">Veltrix fleet</span>";
    if (viewer) {
        page += "<nav aria-label=\"Pages\"><a href=\"/\">Fleet</a><a href=\"/changes\">Changes</a>"
                "<a href=\"/search\">Search</a><a href=\"/dashboard\">Dashboard</a>";
        if (viewer->role == fleet::Role::Admin) page += "<a href=\"/admin\">Admin</a>";
        page += "</nav>"
                "<form class=\"signout\" method=\"post\" action=\"/logout\">"
                "<span>" + escape(viewer->name) + " (" + fleet::roleName(viewer->role) + ")</span> "
                "<input type=\"hidden\" name=\"form_token\" value=\"" + escape(viewer->formToken) + "\">"
                "<button type=\"submit\">Sign out</button></form>";
    }
    page += "</header>\n<main>\n<h1>" + escape(title) + "</h1>\n";
    page += content;
    page += "\n</main></body></html>\n";
    return page;
}

const std::string& consoleStyleSheet() {
    // Sizes in rem and wrapping tables, so the pages read at 200% zoom.
    static const std::string sheet =
        "body{font-family:sans-serif;margin:0;color:#111;background:#fff;font-size:1rem}\n"
        "header{display:flex;flex-wrap:wrap;gap:1rem;align-items:center;background:#d9d9d9;padding:.5rem 1rem}\n"
        ".brand{font-weight:bold;font-size:1.2rem}\n"
        "nav a{margin-right:1rem}\n"
        ".signout{margin-left:auto}\n"
        "main{padding:1rem}\n"
        "table{border-collapse:collapse;max-width:100%}\n"
        "th,td{border:1px solid #666;padding:.25rem .4rem;text-align:left;vertical-align:top;"
        "overflow-wrap:anywhere}\n"
        "th{background:#000;color:#fff;overflow-wrap:break-word}\n"
        "th a{color:#fff}\n"
        "tr.stale td{background:#fde2e2}\n"
        ".counts{font-size:1.1rem}\n"
        ".error{color:#a00;font-weight:bold}\n"
        "label{display:block;margin:.5rem 0 .2rem}\n"
        "a:focus,button:focus,input:focus,select:focus{outline:3px solid #1a5fb4}\n"
        "form.inline{display:inline}\n"
        ".fields{display:flex;flex-wrap:wrap;gap:0 1.5rem;align-items:flex-end}\n"
        ".fields p{margin:.2rem 0}\n"
        "section.chart{max-width:48rem;margin-bottom:2rem}\n"
        "svg.chart{display:block;max-width:100%;height:auto}\n"
        "table.figures caption{text-align:left;font-weight:bold}\n"
        ".notice{border:2px solid #1a5fb4;padding:.5rem 1rem;margin:1rem 0}\n"
        "input[readonly]{font-family:monospace;max-width:100%}\n"
        ".filters label{display:inline;margin:0 .3rem 0 .8rem}\n"
        "iframe.report{width:100%;height:40rem;border:1px solid #666}\n"
        "ul.changes{margin:0;padding-left:1.2rem}\n"
        ".detail{color:#444;font-size:.9rem}\n"
        ".whole{overflow-wrap:normal}\n"
        "a.name{display:inline-block;min-width:7rem}\n";
    return sheet;
}

}  // namespace veltrix::server
