// Veltrix on Linux: the desktop windows without arguments, the batch command
// line with them. Both read this machine through our own provider.
#include <memory>

#include "platform/posix/posix_locale.h"
#include "platform/posix/posix_platform.h"
#include "providers/linux/linux_source.h"
#include "ui/console/batch.h"
#include "wmi/table_service.h"
#ifdef VELTRIX_HAVE_QT
#include "ui/qt/desktop.h"
#endif

namespace {

// The provider and the service over it, kept alive together.
struct LinuxService {
    explicit LinuxService(std::unique_ptr<veltrix::wmi::ClassSource> from) : source(std::move(from)) {}
    std::unique_ptr<veltrix::wmi::ClassSource> source;
    veltrix::wmi::TableService service{*source};
};

std::shared_ptr<veltrix::wmi::Service> linuxService(std::unique_ptr<veltrix::wmi::ClassSource> source =
                                                        veltrix::makeLinuxSource("/")) {
    auto holder = std::make_shared<LinuxService>(std::move(source));
    return std::shared_ptr<veltrix::wmi::Service>(holder, &holder->service);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc <= 1) {
#ifdef VELTRIX_HAVE_QT
        veltrix::PosixPlatform platform(veltrix::executableFolder());
        veltrix::PosixLocale locale;
        auto service = linuxService();
        return veltrix::qt::runDesktop(argc, argv, platform, *service, locale);
#else
        std::fputs("veltrix: this build has no desktop windows; use --batch (see --help)\n", stderr);
        return veltrix::kExitBadInput;
#endif
    }
    veltrix::BatchEnvironment environment;
    environment.liveService = []() -> veltrix::Result<std::shared_ptr<veltrix::wmi::Service>> {
        return linuxService();
    };
    environment.sysrootService =
        [](const std::string& root) -> veltrix::Result<std::shared_ptr<veltrix::wmi::Service>> {
        return linuxService(veltrix::makeSysrootSource(root));
    };
    environment.makePlatform = [](const std::string& folder) -> std::unique_ptr<veltrix::Platform> {
        return std::make_unique<veltrix::PosixPlatform>(folder);
    };
    environment.makeLocale = []() -> std::unique_ptr<veltrix::Locale> {
        return std::make_unique<veltrix::PosixLocale>();
    };
    environment.helpNotes =
        "This computer is read from sysfs, procfs, the SMBIOS table, udev's database and dpkg's status.\n"
        "As an ordinary user, what only root may read (serial numbers, memory modules and slots from the\n"
        "SMBIOS table) is left out; run as root for the full report.";
    return veltrix::runBatch(argc, argv, environment);
}
