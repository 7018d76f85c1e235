// The data-source port. Collectors connect with a moniker text, run WQL, walk
// objects forward only and read properties by name, whatever answers behind
// it: live WMI, a snapshot file or the Linux provider.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "wmi/value.h"

namespace veltrix::wmi {

inline constexpr std::string_view kWmiMoniker =
    "winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\cimv2";
inline constexpr std::string_view kShortMoniker = "winmgmts:\\\\.\\root\\CIMV2";
inline constexpr std::string_view kRegistryMoniker = "winmgmts://./root/default:StdRegProv";

inline constexpr std::int32_t kQueryFlags = 48;       // return immediately + forward only
inline constexpr std::int32_t kDefaultQueryFlags = 16;  // what ExecQuery uses when given none
inline constexpr std::uint32_t kHkeyLocalMachine = 0x80000002u;
// Where Windows lists the installed programs, below HKEY_LOCAL_MACHINE: the
// native key, and on a 64-bit system the key of its 32-bit programs. Both end
// in a backslash so that a subkey name can be appended directly.
inline constexpr std::string_view kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
inline constexpr std::string_view kWow6432UninstallKey =
    "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class Object {
public:
    virtual ~Object() = default;
    // Case-insensitive on the name. A property the object lacks is a failure.
    virtual Result<Value> get(std::string_view name) const = 0;
    // Property names in the provider's order (used to record snapshots).
    virtual std::vector<std::string> propertyNames() const = 0;
};
using ObjectPtr = std::shared_ptr<const Object>;

class ResultSet {
public:
    virtual ~ResultSet() = default;
    // The next object, nullptr at the end, or a failure (any step may fail).
    virtual Result<ObjectPtr> next() = 0;
    // A source that waits for its objects gives up waiting at `deadline`:
    // next() then fails with failure_code::kTimedOut. Sources that answer
    // from memory ignore it.
    virtual void setDeadline(std::chrono::steady_clock::time_point /*deadline*/) {}
};

class Connection {
public:
    virtual ~Connection() = default;
    virtual Result<std::unique_ptr<ResultSet>> execQuery(std::string_view wql,
                                                         std::string_view language = "WQL",
                                                         std::int32_t flags = kDefaultQueryFlags) = 0;
};

class Registry {
public:
    virtual ~Registry() = default;
    // Direct subkey names of hive\path, in the provider's order. A key that
    // does not exist has none: an empty list, not a failure (a 64-bit system
    // without 32-bit programs has no Wow6432Node uninstall key). Failures are
    // kept for a registry that cannot be read.
    virtual Result<std::vector<std::string>> enumKey(std::uint32_t hive, std::string_view path) = 0;
    // Return code 0 when read; otherwise non-zero and `out` is Null. Never a
    // stale value from an earlier call.
    virtual std::int32_t getStringValue(std::uint32_t hive, std::string_view path,
                                        std::string_view valueName, Value& out) = 0;
};

class Service {
public:
    virtual ~Service() = default;
    virtual Result<std::unique_ptr<Connection>> connect(std::string_view moniker) = 0;
    virtual Result<std::unique_ptr<Registry>> connectRegistry(std::string_view moniker) = 0;
    // A hint that these classes of the moniker's namespace will be queried
    // soon, so that a slow source can start fetching them; StdRegProv of
    // root\default (kRegistryMoniker) stands for the registry. Answers must
    // not depend on it; sources that gain nothing ignore it.
    virtual void expectClasses(std::string_view /*moniker*/, const std::vector<std::string>& /*classNames*/) {}
};

}  // namespace veltrix::wmi
