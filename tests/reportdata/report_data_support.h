// Inputs shared by the report-data tests.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

#include "data/load_input.h"

namespace veltrix::test {

inline std::string officeDesktop() { return std::string(VELTRIX_EXAMPLES) + "/office-desktop.json"; }

inline std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The page a scan of the sample snapshot writes, at a fixed time.
inline std::string officeDesktopPage() {
    auto page = data::ScanSnapshotToPage(readText(officeDesktop()), "office-desktop.json", {2024, 3, 5, 14, 7, 9});
    return page.ok() ? *page : std::string();
}

}  // namespace veltrix::test
