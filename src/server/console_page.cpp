#include "server/console_page.h"

#include "report/text.h"

namespace veltrix::server {

std::string escape(std::string_view text) { return EscapeHtml(text); }

std::string consolePage(std::string_view title, const fleet::Viewer* viewer, std::string_view content) {
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        "<title>" + escape(title) + " - Veltrix fleet</title>"
        "<link rel=\"stylesheet\" href=\"/console.css\"></head><body>\n<header><span class=\"brand\">Veltrix fleet</span>";
    if (viewer) {
        page += "<nav aria-label=\"Pages\"><a href=\"/\">Fleet</a><a href=\"/changes\">Changes</a></nav>"
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
        "th{background:#000;color:#fff}\n"
        "th a{color:#fff}\n"
        "tr.stale td{background:#fde2e2}\n"
        ".counts{font-size:1.1rem}\n"
        ".error{color:#a00;font-weight:bold}\n"
        "label{display:block;margin:.5rem 0 .2rem}\n"
        "a:focus,button:focus,input:focus{outline:3px solid #1a5fb4}\n"
        "select:focus{outline:3px solid #1a5fb4}\n"
        ".filters label{display:inline;margin:0 .3rem 0 .8rem}\n"
        "iframe.report{width:100%;height:40rem;border:1px solid #666}\n"
        "ul.changes{margin:0;padding-left:1.2rem}\n"
        ".detail{color:#444;font-size:.9rem}\n"
        ".whole{overflow-wrap:normal}\n"
        "a.name{display:inline-block;min-width:7rem}\n";
    return sheet;
}

}  // namespace veltrix::server
