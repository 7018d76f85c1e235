// A small registry tree holding the installed packages where the software
// inventory looks for installed programs: native packages under the
// ordinary uninstall key, packages of a foreign architecture under the key
// for programs of the other word size.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "providers/linux/dpkg_status.h"

namespace veltrix::linux_provider {

inline constexpr std::string_view kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr std::string_view kForeignUninstallKey =
    "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

class RegistryTree {
public:
    void setValue(std::string_view keyPath, std::string valueName, std::string value);
    // Several values of one key, its path resolved once.
    void setValues(std::string_view keyPath,
                   std::initializer_list<std::pair<std::string_view, std::string_view>> values);
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
    // Hashed: a desktop's thousands of program keys share one long prefix,
    // which makes ordered comparisons slow; nothing depends on key order.
    struct PathHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view path) const { return std::hash<std::string_view>{}(path); }
    };
    Key& ensure(std::string_view keyPath);
    std::unordered_map<std::string, Key, PathHash, std::equal_to<>> keys_;  // lower-case normalised path -> key
};

// Paths without hive, any letter case, trailing or doubled backslashes
// allowed: "software\\microsoft\\" -> "software\microsoft".
std::string normaliseKeyPath(std::string_view path);

RegistryTree buildSoftwareRegistry(const std::vector<InstalledPackage>& packages);

}  // namespace veltrix::linux_provider
