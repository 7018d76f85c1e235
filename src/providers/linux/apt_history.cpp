#include "providers/linux/apt_history.h"

#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

namespace {
// "pkg:amd64 (1.2, 1.3), other:amd64 (2.0, 2.1)"
void parseUpgradeList(std::string_view list, const std::string& date, std::vector<PackageUpgrade>& out) {
    std::size_t pos = 0;
    while (pos < list.size()) {
        std::size_t open = list.find('(', pos);
        if (open == std::string_view::npos) break;
        std::size_t close = list.find(')', open);
        if (close == std::string_view::npos) break;
        std::string name = trim(list.substr(pos, open - pos));
        if (!name.empty() && name.front() == ',') name = trim(std::string_view(name).substr(1));
        std::string_view versions = list.substr(open + 1, close - open - 1);
        std::size_t comma = versions.find(',');
        PackageUpgrade u;
        u.package = name.substr(0, name.find(':'));
        u.fromVersion = trim(versions.substr(0, comma));
        u.toVersion = comma == std::string_view::npos ? std::string() : trim(versions.substr(comma + 1));
        u.date = date;
        if (!u.package.empty()) out.push_back(std::move(u));
        pos = close + 1;
    }
}
}  // namespace

std::vector<PackageUpgrade> parseAptHistory(std::string_view text) {
    std::vector<PackageUpgrade> out;
    std::string date;
    for (std::string_view line : splitLines(text)) {
        if (startsWith(line, "Start-Date:")) {
            std::string value = trim(line.substr(11));
            date = value.substr(0, value.find(' '));
        } else if (startsWith(line, "Upgrade:")) {
            parseUpgradeList(line.substr(8), date, out);
        }
    }
    return out;
}

}  // namespace veltrix::linux_provider
