// What a non-live provider knows: the instances of each class in each
// namespace and a registry tree. TableService (table_service.h) turns any
// ClassSource into a Service by running the shared WQL evaluator over it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "wmi/service.h"

namespace veltrix::wmi {

class ClassSource {
public:
    virtual ~ClassSource() = default;
    // When set, every connection fails with it (the service is unreachable).
    virtual std::optional<Failure> connectError() const { return std::nullopt; }
    virtual bool hasNamespace(std::string_view nameSpace) const = 0;
    // All instances of a class, in delivery order; a failure for an unknown
    // class ("Invalid class") or a class whose query is meant to fail. The
    // pointer stays valid for the life of the source; repeated calls must be
    // cheap (answered from memory).
    virtual Result<const std::vector<ObjectPtr>*> instances(std::string_view nameSpace,
                                                            std::string_view className) = 0;
    // Registry (HKEY_LOCAL_MACHINE only). Paths without the hive, backslashes,
    // case-insensitive, trailing backslash allowed.
    virtual Result<std::vector<std::string>> registrySubkeys(std::string_view path) = 0;
    // The service's hint (Service::expectClasses) with the namespace taken
    // from its moniker, for a source that can start on the work early.
    virtual void expectClasses(std::string_view /*nameSpace*/, const std::vector<std::string>& /*classNames*/) {}
    virtual std::optional<std::string> registryString(std::string_view path,
                                                      std::string_view valueName) = 0;
    // The same into `out`, whose storage is reused (a scan reads thousands of
    // values one after the other); false, `out` unspecified, when absent.
    virtual bool readRegistryString(std::string_view path, std::string_view valueName, std::string& out) {
        auto text = registryString(path, valueName);
        if (!text) return false;
        out = std::move(*text);
        return true;
    }
};

}  // namespace veltrix::wmi
