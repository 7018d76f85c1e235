#include "wmi/moniker.h"

#include <cctype>

#include "core/ascii.h"

namespace veltrix::wmi {

namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

Failure invalid(std::string_view text, const std::string& why) {
    return Failure{failure_code::kInvalidMoniker,
                   "Invalid moniker \"" + std::string(text) + "\": " + why};
}

}  // namespace

Result<Moniker> parseMoniker(std::string_view text, std::string_view localHostName) {
    constexpr std::string_view kPrefix = "winmgmts:";
    if (text.size() < kPrefix.size() || !equalsIgnoringCase(text.substr(0, kPrefix.size()), kPrefix)) {
        return invalid(text, "it must begin with winmgmts:");
    }
    std::string_view rest = text.substr(kPrefix.size());

    // Security settings such as {impersonationLevel=impersonate}, closed by '!'.
    if (!rest.empty() && rest.front() == '{') {
        std::size_t close = rest.find('}');
        if (close == std::string_view::npos) return invalid(text, "the security settings lack their closing }");
        rest.remove_prefix(close + 1);
        if (rest.empty() || rest.front() != '!') return invalid(text, "expected ! after the security settings");
        rest.remove_prefix(1);
    }

    if (rest.size() < 2 || !isSeparator(rest[0]) || !isSeparator(rest[1])) {
        return invalid(text, "expected \\\\HOST\\namespace or //HOST/namespace");
    }
    rest.remove_prefix(2);

    std::size_t hostEnd = 0;
    while (hostEnd < rest.size() && !isSeparator(rest[hostEnd])) ++hostEnd;
    std::string_view host = rest.substr(0, hostEnd);
    if (host.empty()) return invalid(text, "the computer name is missing");
    if (host != "." && !(!localHostName.empty() && equalsIgnoringCase(host, localHostName))) {
        return invalid(text, "only the local computer can be reached, not \"" + std::string(host) + "\"");
    }
    rest.remove_prefix(hostEnd);
    if (rest.empty()) return invalid(text, "the namespace is missing");
    rest.remove_prefix(1);

    Moniker moniker;
    std::size_t colon = rest.find(':');
    std::string_view nameSpace = rest.substr(0, colon);
    if (colon != std::string_view::npos) {
        std::string_view className = rest.substr(colon + 1);
        if (className.empty()) return invalid(text, "the class name after : is missing");
        for (char c : className) {
            if (!isNameChar(c)) return invalid(text, "the class name holds the character '" + std::string(1, c) + "'");
        }
        moniker.className = std::string(className);
    }

    bool segmentStart = true;
    for (char c : nameSpace) {
        if (isSeparator(c)) {
            if (segmentStart) return invalid(text, "the namespace has an empty part");
            moniker.nameSpace += '\\';
            segmentStart = true;
        } else if (isNameChar(c)) {
            moniker.nameSpace += foldAscii(c);
            segmentStart = false;
        } else {
            return invalid(text, "the namespace holds the character '" + std::string(1, c) + "'");
        }
    }
    if (moniker.nameSpace.empty()) return invalid(text, "the namespace is missing");
    if (segmentStart) return invalid(text, "the namespace ends with a separator");
    return moniker;
}

}  // namespace veltrix::wmi
