// A Service that reads each class of a slow source once per scan and answers
// every query of that class (filters, lookups, property lists) from that one
// enumeration with the shared WQL evaluator. Classes the caller expects and
// that are known to be slow are fetched ahead on worker threads, each with a
// service of its own; a query of a class still being fetched waits for it.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/result.h"
#include "wmi/service.h"

namespace veltrix::wmi {

// Long enough for the slowest class of a real slow PC (the signed drivers of
// an old laptop take a minute), short enough that a hung provider costs
// minutes, not the scan.
inline constexpr std::chrono::milliseconds kDefaultClassDeadline{std::chrono::seconds(120)};

struct ClassCacheOptions {
    // The local computer's name, so that monikers naming it find their namespace.
    std::string localHostName;
    // Classes worth a worker thread of their own when a caller expects them.
    std::vector<std::string> slowClasses;
    // Makes a separate service for one worker thread; it is made, used and
    // dropped on that thread. Without it nothing is fetched ahead.
    std::function<Result<std::shared_ptr<Service>>()> workerService;
    // Called again and again while a query waits for a worker, so that the
    // windows of the calling thread keep answering.
    std::function<void()> whileWaiting;
    // How long one class may take, from the start of its enumeration (here
    // or on a worker) to its last object. Past it every query of the class
    // fails as timed out and the scan goes on; a worker still stuck in the
    // source is left behind.
    std::chrono::milliseconds classDeadline = kDefaultClassDeadline;
};

// "timed out after 120 s": how a class past its deadline is described.
std::string timedOutText(std::chrono::milliseconds deadline);

class ClassCacheService final : public Service {
public:
    explicit ClassCacheService(Service& inner, ClassCacheOptions options = {});
    // Waits for the workers, each at most until its class's deadline: an
    // enumeration still running stops at its next object, and a worker stuck
    // in the source past its deadline is left to end on its own.
    ~ClassCacheService() override;
    ClassCacheService(const ClassCacheService&) = delete;
    ClassCacheService& operator=(const ClassCacheService&) = delete;

    Result<std::unique_ptr<Connection>> connect(std::string_view moniker) override;
    Result<std::unique_ptr<Registry>> connectRegistry(std::string_view moniker) override;
    void expectClasses(std::string_view moniker, const std::vector<std::string>& classNames) override;

    struct Shared;  // the enumerations, shared with connections and workers

private:
    Service& inner_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace veltrix::wmi
