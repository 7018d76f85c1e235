// A Service that reads each class of a slow source once per scan and answers
// every query of that class (filters, lookups, property lists) from that one
// enumeration with the shared WQL evaluator. Classes the caller expects and
// that are known to be slow are fetched ahead on worker threads, each with a
// service of its own; a query of a class still being fetched waits for it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/result.h"
#include "wmi/service.h"

namespace veltrix::wmi {

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
};

class ClassCacheService final : public Service {
public:
    explicit ClassCacheService(Service& inner, ClassCacheOptions options = {});
    // Waits for the workers; an enumeration still running stops at its next object.
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
