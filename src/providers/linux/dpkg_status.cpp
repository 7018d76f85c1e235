#include "providers/linux/dpkg_status.h"

#include "providers/linux/line_scan.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

std::vector<InstalledPackage> parseDpkgStatus(std::string_view text) {
    // The file holds every field of every package; only four are kept, so
    // nothing is copied until a line is known to be one of them.
    std::vector<InstalledPackage> out;
    InstalledPackage current;
    std::string_view status;
    auto finish = [&] {
        // "want flag state": a held package ("hold ok installed") or one
        // marked for removal ("deinstall ok installed") is still installed.
        const std::size_t space = status.rfind(' ');
        const bool installed = space != std::string_view::npos && status.substr(space + 1) == "installed";
        if (!current.name.empty() && installed) out.push_back(std::move(current));
        current = {};
        status = {};
    };
    forEachLine(text, [&](std::string_view line) {
        if (line.empty()) {
            finish();
            return;
        }
        if (isBlank(line[0])) {
            // A continuation of a long field, or a blank line with spaces in
            // it: only the latter ends the package.
            std::size_t i = 1;
            while (i < line.size() && isBlank(line[i])) ++i;
            if (i == line.size()) finish();
            return;
        }
        // Fields not kept are skipped at their first letters: most lines of
        // the file are descriptions and dependency lists.
        auto field = [&](std::string_view name) {
            return line.size() > name.size() && line[name.size()] == ':' && line.compare(0, name.size(), name) == 0;
        };
        auto value = [&](std::string_view name) { return trimView(line.substr(name.size() + 1)); };
        switch (line[0]) {
            case 'P':
                if (field("Package")) current.name = value("Package");
                break;
            case 'V':
                if (field("Version")) current.version = value("Version");
                break;
            case 'A':
                if (field("Architecture")) current.architecture = value("Architecture");
                break;
            case 'S':
                if (field("Status")) status = value("Status");
                break;
            default:
                break;
        }
    });
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
