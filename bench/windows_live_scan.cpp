// A full scan of this computer through live WMI (Wine's, in the cross-build's
// test run), twice: query by query as the sections ask, and through the scan
// service that enumerates each class once and fetches the slow ones ahead.
// Prints the wall time, the connections, queries and registry calls, and how
// often each class was enumerated (from the trace). Figures only, never a
// pass or fail.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>

#include "app/scan_driver.h"
#include "core/ascii.h"
#include "core/trace.h"
#include "platform/windows/windows_locale.h"
#include "platform/windows/windows_platform.h"
#include "providers/windows/live_service.h"
#include "providers/windows/scan_service.h"
#include "ui/console/console_ui.h"
#include "wmi/wql/query.h"

using namespace veltrix;

namespace {

// Queries by class (lower case) as the sections send them.
class CountingService final : public wmi::Service {
public:
    explicit CountingService(wmi::Service& inner) : inner_(inner) {}
    Result<std::unique_ptr<wmi::Connection>> connect(std::string_view moniker) override {
        auto inner = inner_.connect(moniker);
        if (!inner) return inner.failure();
        return std::unique_ptr<wmi::Connection>(std::make_unique<Counted>(std::move(*inner), byClass));
    }
    Result<std::unique_ptr<wmi::Registry>> connectRegistry(std::string_view moniker) override {
        return inner_.connectRegistry(moniker);
    }
    std::map<std::string, int> byClass;

private:
    class Counted final : public wmi::Connection {
    public:
        Counted(std::unique_ptr<wmi::Connection> inner, std::map<std::string, int>& counts)
            : inner_(std::move(inner)), counts_(counts) {}
        Result<std::unique_ptr<wmi::ResultSet>> execQuery(std::string_view wql, std::string_view language,
                                                          std::int32_t flags) override {
            if (auto query = wmi::wql::parse(wql)) ++counts_[lowerAscii(query->className)];
            return inner_->execQuery(wql, language, flags);
        }

    private:
        std::unique_ptr<wmi::Connection> inner_;
        std::map<std::string, int>& counts_;
    };
    wmi::Service& inner_;
};

double scan(wmi::Service& service, const std::filesystem::path& folder, const char* name) {
    auto start = std::chrono::steady_clock::now();
    WindowsPlatform platform(folder.string());
    WindowsLocale locale;
    ConsoleUi ui(stderr, false);
    FixedCheckBoxes boxes(true, true);
    ScanState state{name, ""};
    platform.createEmptyFile(reportPath(platform, state));
    ScanServices services{ui, platform, service, locale, boxes, false};
    RunScan(state, services);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void printCounts(const std::map<std::string, int>& counts) {
    std::string line;
    for (const auto& [name, count] : counts) line += " " + name + "=" + std::to_string(count);
    std::printf("  per class:%s\n", line.c_str());
}

void printCounters(const win::LiveCounters& c) {
    std::printf("  connections: %lld, queries: %lld, registry calls: %lld (main thread)\n",
                static_cast<long long>(c.connections), static_cast<long long>(c.queries),
                static_cast<long long>(c.registryCalls));
}

}  // namespace

int main() {
    const auto folder = std::filesystem::temp_directory_path() / "veltrix-bench-live";
    std::filesystem::create_directories(folder);

    auto live = win::LiveService::create();
    if (!live) {
        std::fprintf(stderr, "no WMI: %s\n", live.failure().description.c_str());
        return 1;
    }
    CountingService counted(**live);
    double before = scan(counted, folder, "before.htm");
    std::printf("full scan query by query: %.2f s wall time\n", before);
    printCounters((*live)->counters());
    printCounts(counted.byClass);

    auto fresh = win::LiveService::create();
    if (!fresh) return 1;
    std::shared_ptr<win::LiveService> liveAfter = *fresh;
    std::map<std::string, int> enumerations;
    std::mutex mutex;
    trace::setSink([&](std::string_view line) {
        const std::string_view prefix = "wmi: enumerate ";
        if (line.substr(0, prefix.size()) != prefix) return;
        std::string_view rest = line.substr(prefix.size());
        std::lock_guard lock(mutex);
        ++enumerations[lowerAscii(rest.substr(0, rest.find_first_of(" :")))];
    });
    double after = 0;
    {
        auto service = win::makeScanService(liveAfter);
        if (!service) return 1;
        after = scan(**service, folder, "after.htm");
    }
    trace::disable();
    std::printf("full scan, each class once, slow classes ahead: %.2f s wall time (%.1fx)\n", after,
                after > 0 ? before / after : 0.0);
    printCounters(liveAfter->counters());
    std::printf("  enumerations");
    printCounts(enumerations);
    std::error_code ignored;
    std::printf("reports: %llu and %llu bytes\n",
                static_cast<unsigned long long>(std::filesystem::file_size(folder / "before.htm", ignored)),
                static_cast<unsigned long long>(std::filesystem::file_size(folder / "after.htm", ignored)));
    return 0;
}
