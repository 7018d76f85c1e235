// The snapshot format this program writes. Version 2 adds when the scan was
// taken and whose it is; version 1 files load as before.
inline constexpr int kSnapshotFormatVersion = 2;

// Snapshot format: one JSON file holding what the providers would
// answer. Loading is strict; a bad file is refused with its name, the line and
// column and what was wrong, before anything else happens.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <functional>
#include <unordered_map>
#include <vector>

#include "core/machine_identity.h"
#include "core/result.h"
#include "core/timestamp.h"
#include "wmi/class_source.h"

namespace veltrix::snapshot {

class SnapshotSource final : public wmi::ClassSource {
public:
    static Result<std::unique_ptr<SnapshotSource>> load(const std::string& path);
    // `name` only serves the messages.
    static Result<std::unique_ptr<SnapshotSource>> parse(std::string_view json, std::string_view name);

    std::optional<Failure> connectError() const override { return connectError_; }
    bool hasNamespace(std::string_view nameSpace) const override;
    Result<const std::vector<wmi::ObjectPtr>*> instances(std::string_view nameSpace,
                                                         std::string_view className) override;
    Result<std::vector<std::string>> registrySubkeys(std::string_view path) override;
    std::optional<std::string> registryString(std::string_view path, std::string_view valueName) override;

    const std::string& sourceText() const { return source_; }
    // When the scan was taken, as written ("2026-12-09T05:14:03+01:00"), and
    // read; absent in files written before snapshots said so.
    const std::optional<std::string>& takenAtText() const { return takenAtText_; }
    const std::optional<Timestamp>& takenAt() const { return takenAt_; }
    // Whose scan it is, as the scan saw it; absent in older files.
    const std::optional<MachineIdentity>& machine() const { return machine_; }

    struct ClassEntry {
        std::string name;                      // as spelled in the file
        std::vector<wmi::ObjectPtr> objects;
        std::optional<Failure> error;          // the class's query fails with it
    };
    struct RegistryKey {
        std::vector<std::pair<std::string, std::string>> values;
        std::vector<std::string> subkeys;      // direct children, file order
        bool listed = false;                   // named in the file, not only a parent
    };

private:
    SnapshotSource() = default;
    std::string source_;
    std::optional<std::string> takenAtText_;
    std::optional<Timestamp> takenAt_;
    std::optional<MachineIdentity> machine_;
    std::optional<Failure> connectError_;
    std::map<std::string, std::map<std::string, ClassEntry>> namespaces_;  // lower-case keys
    // The registry as a tree: key 0 is the hive; every other key is found
    // from its parent's number and its own lower-case name. Storing whole
    // paths instead would keep every parent's path as well, which a key of
    // many parts makes quadratic in its length.
    struct Child {
        std::uint32_t parent;
        std::string name;
    };
    struct ChildName {
        std::uint32_t parent;
        std::string_view name;
    };
    struct ChildHash {
        using is_transparent = void;
        std::size_t operator()(const ChildName& child) const {
            return std::hash<std::string_view>{}(child.name) * 31 + child.parent;
        }
        std::size_t operator()(const Child& child) const { return (*this)(ChildName{child.parent, child.name}); }
    };
    struct ChildEqual {
        using is_transparent = void;
        template <class A, class B>
        bool operator()(const A& a, const B& b) const {
            return a.parent == b.parent && std::string_view(a.name) == std::string_view(b.name);
        }
    };
    std::deque<RegistryKey> registryKeys_;  // never moves a key, so a reference to one stays good
    std::unordered_map<Child, std::uint32_t, ChildHash, ChildEqual> registryChildren_;
    // The key at `path` (any case, no hive, single backslashes), or null.
    const RegistryKey* registryKey(std::string_view path) const;
    friend struct SnapshotParser;
};

}  // namespace veltrix::snapshot
