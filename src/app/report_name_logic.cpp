#include "app/report_name_logic.h"

#include "app/name_characters.h"
#include "app/scan_driver.h"

namespace veltrix {

namespace {

// Decodes one UTF-8 sequence starting at `i`; returns its length. Malformed
// bytes are taken one at a time as themselves.
std::size_t decodeUtf8(std::string_view s, std::size_t i, char32_t& out) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    auto cont = [&](std::size_t k) {
        return i + k < s.size() && (static_cast<unsigned char>(s[i + k]) & 0xC0) == 0x80;
    };
    if (b0 < 0x80) {
        out = b0;
        return 1;
    }
    if ((b0 & 0xE0) == 0xC0 && cont(1)) {
        out = ((b0 & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
        return 2;
    }
    if ((b0 & 0xF0) == 0xE0 && cont(1) && cont(2)) {
        out = ((b0 & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
              (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
        return 3;
    }
    if ((b0 & 0xF8) == 0xF0 && cont(1) && cont(2) && cont(3)) {
        out = ((b0 & 0x07u) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 12) |
              ((static_cast<unsigned char>(s[i + 2]) & 0x3Fu) << 6) |
              (static_cast<unsigned char>(s[i + 3]) & 0x3Fu);
        return 4;
    }
    out = b0;
    return 1;
}

std::string trimBlanks(std::string_view s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(' ');
    return std::string(s.substr(first, last - first + 1));
}

// A serial is machine text: control characters in it would reach the file
// name, so they go with the path characters.
std::string dropPathCharacters(std::string_view s) {
    std::string out;
    for (char c : s)
        if (c != '\\' && c != '/' && c != ':' && !isControlCharacter(static_cast<unsigned char>(c))) out += c;
    return out;
}

}  // namespace

bool IsRefusedNameCharacter(char32_t c) {
    for (char refused : kRefusedNameCharacters)
        if (c == static_cast<char32_t>(static_cast<unsigned char>(refused))) return true;
    return false;
}

std::string FilterNameText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t c = 0;
        const std::size_t n = decodeUtf8(utf8, i, c);
        // Typed control characters are the field's own editing keys
        // (backspace, Ctrl+V) and never reach the text; pasted ones would.
        if (!IsRefusedNameCharacter(c) && !isControlCharacter(c)) out.append(utf8.substr(i, n));
        i += n;
    }
    return out;
}

std::optional<std::string> ProposeReportName(wmi::Service& wmi) {
    auto connection = wmi.connect(wmi::kWmiMoniker);
    if (!connection) return std::nullopt;
    auto rows = (*connection)->execQuery("SELECT SerialNumber FROM Win32_SystemEnclosure", "WQL",
                                         wmi::kQueryFlags);
    if (!rows) return std::nullopt;

    std::optional<std::string> field;  // what the loop last wrote into the field
    std::string remembered;
    for (;;) {
        auto next = (*rows)->next();
        if (!next || !*next) break;  // a failing step ends the walk; what was written stays
        auto serial = (*next)->get("SerialNumber");
        if (serial) {
            auto text = serial->toText();
            if (text && !text->empty()) remembered = dropPathCharacters(trimBlanks(*text));
        }
        field = remembered;
    }
    return field;
}

NameConfirmation ConfirmReportName(std::string_view text, ScanState& state, Platform& platform, Ui& ui,
                                   const std::function<void()>& runScan) {
    if (text.empty()) {
        ui.messageBox(kEmptyNameMessage, MessageStyle::Critical);
        return NameConfirmation::Refused;
    }
    state.reportName = std::string(text) + ".htm";
    // A file that cannot be created is reported by the scan's own existence
    // test ("Could not create the file..."), so the status is not examined.
    (void)platform.createEmptyFile(reportPath(platform, state));
    if (runScan) runScan();
    return NameConfirmation::ScanStarted;
}

}  // namespace veltrix
