#include "providers/linux/dpkg_status.h"

#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

std::vector<InstalledPackage> parseDpkgStatus(std::string_view text) {
    std::vector<InstalledPackage> out;
    InstalledPackage current;
    std::string status;
    auto finish = [&] {
        if (!current.name.empty() && status == "install ok installed") out.push_back(current);
        current = {};
        status.clear();
    };
    for (std::string_view line : splitLines(text)) {
        if (trim(line).empty()) {
            finish();
            continue;
        }
        if (line[0] == ' ' || line[0] == '\t') continue;  // continuation of a long field
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view key = line.substr(0, colon);
        std::string value = trim(line.substr(colon + 1));
        if (key == "Package") current.name = value;
        else if (key == "Version") current.version = value;
        else if (key == "Architecture") current.architecture = value;
        else if (key == "Status") status = value;
    }
    finish();
    return out;
}

std::string nativeArchitecture(const std::vector<InstalledPackage>& packages) {
    for (const auto& p : packages)
        if (p.name == "dpkg" && !p.architecture.empty() && p.architecture != "all") return p.architecture;
    for (const auto& p : packages)
        if (!p.architecture.empty() && p.architecture != "all") return p.architecture;
    return {};
}

}  // namespace veltrix::linux_provider
