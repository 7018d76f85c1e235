// A full scan of this computer through live WMI (Wine's, in the cross-build's
// test run): prints the wall time, how many connections, queries and registry
// calls it made, and the report's size. Figures only, never a pass or fail.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "app/scan_driver.h"
#include "platform/windows/windows_locale.h"
#include "platform/windows/windows_platform.h"
#include "providers/windows/live_service.h"
#include "ui/console/console_ui.h"

int main() {
    using namespace veltrix;
    const auto folder = std::filesystem::temp_directory_path() / "veltrix-bench-live";
    std::filesystem::create_directories(folder);

    auto start = std::chrono::steady_clock::now();
    auto service = win::LiveService::create();
    if (!service) {
        std::fprintf(stderr, "no WMI: %s\n", service.failure().description.c_str());
        return 1;
    }
    WindowsPlatform platform(folder.string());
    WindowsLocale locale;
    ConsoleUi ui(stderr, false);
    FixedCheckBoxes boxes(true, true);
    ScanState state{"bench.htm", ""};
    platform.createEmptyFile(reportPath(platform, state));
    ScanServices services{ui, platform, **service, locale, boxes, false};
    ScanOutcome outcome = RunScan(state, services);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const win::LiveCounters& counters = (*service)->counters();
    std::error_code ignored;
    auto size = std::filesystem::file_size(folder / "bench.htm", ignored);
    std::printf("full scan, hotfix and software included: %.2f s wall time, outcome %d\n", seconds,
                static_cast<int>(outcome));
    std::printf("WMI connections: %lld, queries: %lld, registry calls: %lld, report: %llu bytes\n",
                static_cast<long long>(counters.connections), static_cast<long long>(counters.queries),
                static_cast<long long>(counters.registryCalls), static_cast<unsigned long long>(size));
    return 0;
}
