// Package upgrades from the package tool's history log, the closest thing a
// Debian-family system has to installed operating-system updates.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veltrix::linux_provider {

struct PackageUpgrade {
    std::string package;      // without the ":arch" qualifier
    std::string fromVersion;
    std::string toVersion;
    std::string date;         // "yyyy-mm-dd" of the transaction start, may be empty
};

// Every package of every "Upgrade:" line, in log order.
std::vector<PackageUpgrade> parseAptHistory(std::string_view text);

}  // namespace veltrix::linux_provider
