// The package database's status file: which packages are installed, with
// version and architecture.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "providers/linux/line_scan.h"

namespace veltrix::linux_provider {

// Views into the status file's text: a desktop lists a thousand packages,
// and the text is kept (mapped) for as long as they are read.
struct InstalledPackage {
    std::string_view name;
    std::string_view version;
    std::string_view architecture;  // "amd64", "i386", "all", or empty
};

// Only packages whose state (the last word of Status) is "installed", in
// file order, whatever was selected for them ("install", "hold", ...). The
// packages point into `text`, which must outlive them.
std::vector<InstalledPackage> parseDpkgStatus(std::string_view text);

// The machine's own architecture: that of the package manager itself, else
// of the first installed package that is not "all"; empty when unknown.
std::string nativeArchitecture(const std::vector<InstalledPackage>& packages);

// The parser's line finder, open to tests: whether the line starting at
// `start` can matter to the parser, and the collectors that find such lines
// a vector of bytes at a time (see line_scan.h for their contract).
namespace dpkg_status_detail {
bool mayMatterAt(std::string_view text, std::size_t start);
#ifdef VELTRIX_LINE_SCAN_AVX2
std::size_t keptFieldStartsAvx2(const char* data, std::size_t from, std::size_t to, std::uint32_t* starts);
std::size_t keptFieldStartsAvx512(const char* data, std::size_t from, std::size_t to, std::uint32_t* starts);
#endif
}  // namespace dpkg_status_detail

}  // namespace veltrix::linux_provider
