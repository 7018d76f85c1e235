// A small registry tree holding the installed packages where the software
// inventory looks for installed programs: native packages under the
// ordinary uninstall key, packages of a foreign architecture under the key
// for programs of the other word size.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "providers/linux/dpkg_status.h"
#include "wmi/service.h"

namespace veltrix::linux_provider {

// The uninstall keys without their closing backslash, as the tree names keys.
inline constexpr std::string_view kUninstallKey = wmi::kUninstallKey.substr(0, wmi::kUninstallKey.size() - 1);
inline constexpr std::string_view kForeignUninstallKey =
    wmi::kWow6432UninstallKey.substr(0, wmi::kWow6432UninstallKey.size() - 1);

// Names and values are views: into the tree's own copies of what was set
// by path, and into the package database's text for the programs built from
// it. A tree can be moved, not copied.
class RegistryTree {
public:
    RegistryTree() = default;
    RegistryTree(RegistryTree&&) = default;
    RegistryTree& operator=(RegistryTree&&) = default;
    RegistryTree(const RegistryTree&) = delete;
    RegistryTree& operator=(const RegistryTree&) = delete;

    void setValue(std::string_view keyPath, std::string valueName, std::string value);
    // Several values of one key, its path resolved once.
    void setValues(std::string_view keyPath,
                   std::initializer_list<std::pair<std::string_view, std::string_view>> values);
    // Creates the key and its parents.
    void addKey(std::string_view keyPath);

    // nullopt for a key that does not exist.
    std::optional<std::vector<std::string>> subkeys(std::string_view keyPath) const;
    std::optional<std::string> value(std::string_view keyPath, std::string_view valueName) const;
    // The same without a copy, valid for the life of the tree (and of the
    // packages' text).
    std::optional<std::string_view> valueView(std::string_view keyPath, std::string_view valueName) const;

private:
    struct Key {
        std::vector<std::string_view> subkeys;  // as written, in insertion order
        // Names as first written, matched without regard to case; a key
        // holds a handful, so a scan beats a map.
        std::vector<std::pair<std::string_view, std::string_view>> values;
        // A program listed from a package answers DisplayName and
        // DisplayVersion from here, unless `values` says otherwise: a list of
        // its own would cost every program an allocation.
        std::string_view packageName, packageVersion;
        bool fromPackage = false;

        const std::string_view* findValue(std::string_view name) const;
    };
    // Hashed: nothing depends on key order.
    struct PathHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view path) const { return std::hash<std::string_view>{}(path); }
    };
    // Names hashed and compared without regard to case, so that any
    // spelling finds a program's key without a lowered copy.
    struct FoldedHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const;
    };
    struct FoldedEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    // Programs' keys by name, as written: one array with an open-addressed
    // index, so that adding one of a thousand allocates nothing of its own.
    // Adding may move the keys.
    class Programs {
    public:
        void reserve(std::size_t count);
        Key* find(std::string_view name);
        const Key* find(std::string_view name) const;
        // The key of `name`, which must stay valid for the life of the tree,
        // and whether it was added.
        std::pair<Key*, bool> tryEmplace(std::string_view name);

    private:
        // Where `name` is or would go in slots_.
        std::size_t slotOf(std::string_view name) const;
        void rehash(std::size_t slotCount);

        std::vector<std::pair<std::string_view, Key>> entries_;  // in the order added
        std::vector<std::uint32_t> slots_;                       // entry index + 1; 0 is free
    };

    Key& ensure(std::string_view keyPath);
    // Keys by lower-case normalised path, wherever they are kept.
    Key* find(std::string_view path);
    const Key* find(std::string_view path) const;
    // Adds a key whose parent exists; `path` is lower-case and normalised.
    Key& insert(std::string path, std::string_view parentPath, std::string_view name);
    // The key of a program directly under one of the uninstall keys, found
    // without building the normalised path; `known` is false for any other
    // path, which then takes the general lookup.
    const Key* program(std::string_view keyPath, bool& known) const;
    // Sets a value whose name and text stay valid for the life of the tree.
    static void setIn(Key& key, std::string_view name, std::string_view value);
    // A copy of `text` kept by the tree, for names and values set by path.
    std::string_view own(std::string_view text);

    std::unordered_map<std::string, Key, PathHash, std::equal_to<>> keys_;  // lower-case normalised path -> key
    // The key the last value was read from, by its path as the reader spelled
    // it: a reader takes a program's values one after the other. Cleared when
    // a key is added, since a path that named no key may name one then, and
    // not taken along by a copy, whose keys are others.
    struct LastRead {
        std::string path;
        const Key* key = nullptr;
        bool valid = false;
        LastRead() = default;
        LastRead(const LastRead&) {}
        LastRead& operator=(const LastRead&) {
            valid = false;
            return *this;
        }
    };
    mutable LastRead lastRead_;
    // The keys directly under kUninstallKey and kForeignUninstallKey, kept
    // apart: a desktop has thousands, and every value the software inventory
    // reads is in one of them.
    Programs programs_[2];
    // What the views of names and values set by path point into: a deque,
    // whose elements stay where they are as it grows and when it is moved.
    std::deque<std::string> texts_;

    friend RegistryTree buildSoftwareRegistry(const std::vector<InstalledPackage>& packages);
};

// Paths without hive, any letter case, trailing or doubled backslashes
// allowed: "software\\microsoft\\" -> "software\microsoft".
std::string normaliseKeyPath(std::string_view path);

// The programs' keys refer to the packages' text (not to the vector), which
// must outlive the tree.
RegistryTree buildSoftwareRegistry(const std::vector<InstalledPackage>& packages);

}  // namespace veltrix::linux_provider
