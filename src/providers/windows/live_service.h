// Live WMI over COM: the data source on Windows. Connections go through
// IWbemLocator with the namespace of the moniker; the registry is read through
// the methods of the StdRegProv class in root\default.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/result.h"
#include "wmi/service.h"

namespace veltrix::win {

// What the service did, for measurements.
struct LiveCounters {
    std::int64_t connections = 0;    // ConnectServer calls, registry included
    std::int64_t queries = 0;        // ExecQuery calls
    std::int64_t registryCalls = 0;  // ExecMethod calls on StdRegProv
};

class LiveService final : public wmi::Service {
public:
    // Initialises COM for the calling thread (single-threaded apartment) and
    // the process's security (impersonation). Every object obtained from the
    // service must be released on that thread before the service goes.
    static Result<std::shared_ptr<LiveService>> create();
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

}  // namespace veltrix::win
