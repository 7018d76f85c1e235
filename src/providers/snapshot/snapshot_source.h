// Snapshot format version 1: one JSON file holding what the providers would
// answer. Loading is strict; a bad file is refused with its name, the line and
// column and what was wrong, before anything else happens.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <functional>
#include <unordered_map>
#include <vector>

#include "core/result.h"
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

    struct ClassEntry {
        std::string name;                      // as spelled in the file
        std::vector<wmi::ObjectPtr> objects;
        std::optional<Failure> error;          // the class's query fails with it
    };
    struct RegistryKey {
        std::string path;                      // without hive, as spelled
        std::vector<std::pair<std::string, std::string>> values;
        std::vector<std::string> subkeys;      // direct children, file order
        bool listed = false;                   // named in the file, not only a parent
    };

private:
    SnapshotSource() = default;
    std::string source_;
    std::optional<Failure> connectError_;
    std::map<std::string, std::map<std::string, ClassEntry>> namespaces_;  // lower-case keys
    // Looked up by string_view, so that a part of a path needs no copy.
    struct PathHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view path) const { return std::hash<std::string_view>{}(path); }
    };
    std::unordered_map<std::string, RegistryKey, PathHash, std::equal_to<>> registry_;  // lower-case path keys
    friend struct SnapshotParser;
};

}  // namespace veltrix::snapshot
