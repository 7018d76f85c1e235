#include "providers/linux/dpkg_status.h"

#include <cctype>

#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

std::vector<InstalledPackage> parseDpkgStatus(std::string_view text) {
    // The file holds every field of every package; only four are kept, so
    // nothing is copied until a line is known to be one of them.
    std::vector<InstalledPackage> out;
    InstalledPackage current;
    std::string_view status;
    auto finish = [&] {
        if (!current.name.empty() && status == "install ok installed") out.push_back(std::move(current));
        current = {};
        status = {};
    };
    LineCursor lines(text);
    std::string_view line;
    while (lines.next(line)) {
        const bool blank = line.empty() || (std::isspace(static_cast<unsigned char>(line[0])) && trimView(line).empty());
        if (blank) {
            finish();
            continue;
        }
        // Continuations of long fields, and fields not kept, skipped at their
        // first letter: most lines of the file are descriptions.
        if (line[0] != 'P' && line[0] != 'V' && line[0] != 'A' && line[0] != 'S') continue;
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view key = line.substr(0, colon);
        auto value = [&] { return trimView(line.substr(colon + 1)); };
        if (key == "Package") current.name = value();
        else if (key == "Version") current.version = value();
        else if (key == "Architecture") current.architecture = value();
        else if (key == "Status") status = value();
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
