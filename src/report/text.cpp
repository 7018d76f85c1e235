#include "report/text.h"

#include <algorithm>
#include <cctype>

#include "core/ascii.h"

namespace veltrix {

namespace {

void replaceAll(std::string& text, std::string_view what, std::string_view with) {
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    while (true) {
        std::size_t at = text.find(what, from);
        if (at == std::string::npos) break;
        out.append(text, from, at - from);
        out += with;
        from = at + what.size();
    }
    if (from == 0) return;
    out.append(text, from, std::string::npos);
    text = std::move(out);
}

}  // namespace

std::string CutPnpDeviceId(std::string_view deviceId) {
    std::size_t rev = findIgnoringCase(deviceId, "&REV");
    if (rev == std::string_view::npos) return std::string(deviceId);
    std::size_t slash = deviceId.find('\\', rev);
    // A revision part at the very end has no instance tail to drop.
    if (slash == std::string_view::npos) return std::string(deviceId);
    return std::string(deviceId.substr(0, slash));
}

std::string EncodeHtmlChars(std::string& text) {
    // The double quote first, before the umlauts.
    replaceAll(text, "\"", "&#34;");
    static constexpr std::pair<std::string_view, std::string_view> kUmlauts[] = {
        {"\xC3\xB6", "&ouml;"}, {"\xC3\x96", "&Ouml;"}, {"\xC3\xA4", "&auml;"},
        {"\xC3\x84", "&Auml;"}, {"\xC3\xBC", "&uuml;"}, {"\xC3\x9C", "&Uuml;"},
    };
    for (const auto& [umlaut, entity] : kUmlauts) replaceAll(text, umlaut, entity);
    return text;
}

std::string EscapeMarkup(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == '\x7F') {
            // A NUL, a bare CR or LF would break the report's CR LF lines.
            out += ' ';
        } else {
            out += c;
        }
    }
    return out;
}

std::string EscapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace veltrix
