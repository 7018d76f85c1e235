// Wraps any Service and records what it answered during a scan, so that the
// scan can be replayed from a snapshot file anywhere.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/machine_identity.h"
#include "core/platform.h"
#include "core/result.h"
#include "wmi/service.h"

namespace veltrix::snapshot {

class RecordingService final : public wmi::Service {
public:
    RecordingService(wmi::Service& inner, std::string sourceText);

    Result<std::unique_ptr<wmi::Connection>> connect(std::string_view moniker) override;
    Result<std::unique_ptr<wmi::Registry>> connectRegistry(std::string_view moniker) override;
    // Recording changes nothing about what is fetched ahead: the hint goes on.
    void expectClasses(std::string_view moniker, const std::vector<std::string>& classNames) override {
        inner_.expectClasses(moniker, classNames);
    }

    // When the scan was taken and whose it is, written beside what the
    // providers answered; both are optional.
    void setTakenAt(std::string iso8601);
    void setMachine(MachineIdentity identity);

    // The snapshot (format version 2) of everything recorded so far.
    std::string toJson() const;
    // Writes toJson() to `path` through a file that replaces an old one only
    // when complete; a failure names the file and the reason.
    Status save(Platform& platform, const std::string& path) const;

    struct State;  // shared with the recording connections

private:
    wmi::Service& inner_;
    std::shared_ptr<State> state_;
};

}  // namespace veltrix::snapshot
