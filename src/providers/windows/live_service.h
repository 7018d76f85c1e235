// Live WMI over COM: the data source on Windows. Connections go through
// IWbemLocator with the namespace of the moniker; the registry is read through
// the methods of the StdRegProv class in root\default.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "core/result.h"
#include "wmi/service.h"

struct IEnumWbemClassObject;
struct IWbemServices;

namespace veltrix::win {

// How long one IEnumWbemClassObject::Next may wait before the walk looks at
// its deadline again; the deadline, not this, bounds the whole walk.
inline constexpr std::chrono::milliseconds kNextSlice{1000};

// What the service did, for measurements.
struct LiveCounters {
    std::int64_t connections = 0;    // ConnectServer calls, registry included
    std::int64_t queries = 0;        // ExecQuery calls
    std::int64_t registryCalls = 0;  // ExecMethod calls on StdRegProv
};

// The apartment the service's thread joins: the window thread needs a
// single-threaded one; worker threads that own no windows take the
// multithreaded apartment.
enum class Apartment { SingleThreaded, Multithreaded };

class LiveService final : public wmi::Service {
public:
    // Initialises COM for the calling thread and the process's security
    // (impersonation). Every object obtained from the service must be
    // released on that thread before the service goes.
    static Result<std::shared_ptr<LiveService>> create(Apartment apartment = Apartment::SingleThreaded);
    ~LiveService() override;
    LiveService(const LiveService&) = delete;
    LiveService& operator=(const LiveService&) = delete;

    Result<std::unique_ptr<wmi::Connection>> connect(std::string_view moniker) override;
    Result<std::unique_ptr<wmi::Registry>> connectRegistry(std::string_view moniker) override;

    const LiveCounters& counters() const { return *counters_; }
    const std::string& computerName() const { return computerName_; }

private:
    LiveService() = default;
    bool uninitialize_ = false;
    std::string computerName_;
    std::shared_ptr<LiveCounters> counters_ = std::make_shared<LiveCounters>();
};

// The walk over an enumerator that ExecQuery returned (semi-synchronous):
// each Next waits at most `slice`, and a "timed out" answer means wait on,
// until the deadline given by setDeadline. Made public for tests with fake
// enumerators.
std::unique_ptr<wmi::ResultSet> walkEnumerator(IEnumWbemClassObject* objects,
                                               std::chrono::milliseconds slice = kNextSlice);

// The registry read through StdRegProv over `services` (root\default), as
// connectRegistry does after connecting; for tests with a fake provider.
Result<std::unique_ptr<wmi::Registry>> registryOver(IWbemServices* services);

}  // namespace veltrix::win
