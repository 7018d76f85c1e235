// A small registry tree holding the installed packages where the software
// inventory looks for installed programs: native packages under the
// ordinary uninstall key, packages of a foreign architecture under the key
// for programs of the other word size.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "providers/linux/dpkg_status.h"

namespace veltrix::linux_provider {

inline constexpr std::string_view kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr std::string_view kForeignUninstallKey =
    "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

class RegistryTree {
public:
    void setValue(std::string_view keyPath, std::string valueName, std::string value);
    // Creates the key and its parents.
    void addKey(std::string_view keyPath);

    // nullopt for a key that does not exist.
    std::optional<std::vector<std::string>> subkeys(std::string_view keyPath) const;
    std::optional<std::string> value(std::string_view keyPath, std::string_view valueName) const;

private:
    struct Key {
        std::vector<std::string> subkeys;  // as written, in insertion order
        std::map<std::string, std::string> values;  // lower-case name -> value
    };
    Key& ensure(std::string_view keyPath);
    std::map<std::string, Key> keys_;  // lower-case normalised path -> key
};

// Paths without hive, any letter case, trailing or doubled backslashes
// allowed: "software\\microsoft\\" -> "software\microsoft".
std::string normaliseKeyPath(std::string_view path);

RegistryTree buildSoftwareRegistry(const std::vector<InstalledPackage>& packages);

}  // namespace veltrix::linux_provider
