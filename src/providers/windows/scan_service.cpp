#include "providers/windows/scan_service.h"

#include <windows.h>

#include "wmi/class_cache.h"

namespace veltrix::win {

namespace {

struct ScanService {
    std::shared_ptr<LiveService> live;
    std::unique_ptr<wmi::ClassCacheService> cache;
};

}  // namespace

const std::vector<std::string>& slowClasses() {
    static const std::vector<std::string> classes = {"Win32_PnPSignedDriver", "Win32_PnPEntity",
                                                     "Win32_QuickFixEngineering"};
    return classes;
}

void dispatchWindowMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

Result<std::shared_ptr<wmi::Service>> makeScanService(std::shared_ptr<LiveService> live,
                                                      std::function<void()> whileWaiting,
                                                      std::chrono::milliseconds classDeadline) {
    if (!live) return Failure{failure_code::kObjectRequired, "No WMI service"};
    wmi::ClassCacheOptions options;
    options.localHostName = live->computerName();
    options.slowClasses = slowClasses();
    options.classDeadline = classDeadline;
    // Each worker's service is made and dropped on its own thread, which
    // begins and ends that thread's apartment. A worker owns no windows, so
    // it needs no message loop: the multithreaded apartment.
    options.workerService = []() -> Result<std::shared_ptr<wmi::Service>> {
        auto worker = LiveService::create(Apartment::Multithreaded);
        if (!worker) return worker.failure();
        return std::shared_ptr<wmi::Service>(std::move(*worker));
    };
    options.whileWaiting = whileWaiting ? std::move(whileWaiting) : dispatchWindowMessages;
    auto holder = std::make_shared<ScanService>();
    holder->live = std::move(live);
    holder->cache = std::make_unique<wmi::ClassCacheService>(*holder->live, std::move(options));
    return std::shared_ptr<wmi::Service>(holder, holder->cache.get());
}

}  // namespace veltrix::win
