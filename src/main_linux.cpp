// Veltrix on Linux: the batch command line with arguments.
#include <cstdio>

#include "platform/posix/posix_locale.h"
#include "platform/posix/posix_platform.h"
#include "ui/console/batch.h"

int main(int argc, char** argv) {
    veltrix::BatchEnvironment environment;
    environment.liveService = []() -> veltrix::Result<std::shared_ptr<veltrix::wmi::Service>> {
        return veltrix::Failure{1, "no data provider for this computer yet: use --snapshot FILE"};
    };
    environment.makePlatform = [](const std::string& folder) -> std::unique_ptr<veltrix::Platform> {
        return std::make_unique<veltrix::PosixPlatform>(folder);
    };
    environment.makeLocale = []() -> std::unique_ptr<veltrix::Locale> {
        return std::make_unique<veltrix::PosixLocale>();
    };
    if (argc <= 1) {
        std::fputs("veltrix: the desktop windows are not built into this program; use --batch (see --help)\n",
                   stderr);
        return veltrix::kExitBadInput;
    }
    return veltrix::runBatch(argc, argv, environment);
}
