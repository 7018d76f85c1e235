// Veltrix on Linux: the batch command line with arguments; without them it
// becomes the desktop windows, a program of its own (veltrix-desktop) so that
// the command line never loads the Qt libraries. Both read this machine
// through our own provider. `veltrix store ...` likewise becomes the fleet
// store's program (veltrix-store), `veltrix server ...` the fleet server's
// (veltrix-server) and `veltrix agent ...` the agent's (veltrix-agent), so
// that no other command maps the SQLite, PostgreSQL, HTTP, TLS and libcurl
// libraries.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/posix/companion_program.h"
#include "platform/posix/posix_locale.h"
#include "platform/posix/posix_platform.h"
#include "providers/linux/linux_source.h"
#include "ui/console/batch.h"
#include "wmi/table_service.h"

namespace {

// The provider and the service over it, kept alive together.
struct LinuxService {
    explicit LinuxService(std::unique_ptr<veltrix::wmi::ClassSource> from) : source(std::move(from)) {}
    std::unique_ptr<veltrix::wmi::ClassSource> source;
    veltrix::wmi::TableService service{*source};
};

// The service over `source`; `keep` holds the provider as well, so that it
// outlives the command.
std::shared_ptr<veltrix::wmi::Service> linuxService(std::unique_ptr<veltrix::wmi::ClassSource> source,
                                                    std::shared_ptr<LinuxService>& keep) {
    keep = std::make_shared<LinuxService>(std::move(source));
    return std::shared_ptr<veltrix::wmi::Service>(keep, &keep->service);
}

// Replaces this process by a companion program; returns only when exec
// failed, having said why.
void become(const std::string& path, std::vector<char*> arguments) {
    arguments.push_back(nullptr);
    ::execv(path.c_str(), arguments.data());
    std::fprintf(stderr, "veltrix: cannot start %s: %s\n", path.c_str(), std::strerror(errno));
}

// Becomes the desktop program, handing it the folder for the reports.
int openDesktop() {
    const std::string folder = veltrix::executableFolder();
    auto desktop = veltrix::findDesktopProgram(folder, VELTRIX_COMPANION_FOLDER);
    if (!desktop) {
        std::fputs("veltrix: the desktop windows are not installed; use --batch (see --help)\n", stderr);
        return veltrix::kExitBadInput;
    }
    std::string reports = veltrix::desktopReportFolder(folder, desktop->installed, std::getenv("HOME"));
    char name[] = "veltrix";
    become(desktop->path, {name, reports.data()});
    return veltrix::kExitScanFailed;
}

// Becomes a companion program with the arguments after its subcommand
// ("store", "server", "agent"); it writes to this process's stdout and stderr and its
// exit code is the command's.
int runCompanion(const char* program, const char* what, int argc, char** argv) {
    auto companion = veltrix::findCompanionProgram(program, veltrix::executableFolder(), VELTRIX_COMPANION_FOLDER);
    if (!companion) {
        std::fprintf(stderr, "veltrix: %s is not installed (%s is missing)\n", what, program);
        return veltrix::kExitBadInput;
    }
    std::string name = program;
    std::vector<char*> arguments{name.data()};
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    std::fflush(nullptr);
    become(companion->path, std::move(arguments));
    return veltrix::kExitBadInput;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc <= 1) return openDesktop();
    // The provider is never taken apart: freeing its thousands of small
    // objects (the package list, the id lists' index) one by one costs about
    // a twentieth of a batch scan, and the process ends right after it.
    std::shared_ptr<LinuxService> provider;
    veltrix::BatchEnvironment environment;
    environment.liveService = [&provider]() -> veltrix::Result<std::shared_ptr<veltrix::wmi::Service>> {
        return linuxService(veltrix::makeLinuxSource("/"), provider);
    };
    environment.sysrootService =
        [&provider](const std::string& root) -> veltrix::Result<std::shared_ptr<veltrix::wmi::Service>> {
        return linuxService(veltrix::makeSysrootSource(root), provider);
    };
    environment.storeCommand = [](int argc, char** argv, std::FILE*, std::FILE*) {
        return runCompanion(veltrix::kStoreProgramName, "the fleet store", argc, argv);
    };
    environment.agentCommand = [](int argc, char** argv, std::FILE*, std::FILE*) {
        return runCompanion(veltrix::kAgentProgramName, "the agent", argc, argv);
    };
    environment.serverCommand = [](int argc, char** argv, std::FILE*, std::FILE*) {
        return runCompanion(veltrix::kServerProgramName, "the fleet server", argc, argv);
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
        "SMBIOS table) is left out; run as root for the full report.\n"
        "\n"
        "Examples:\n"
        "  veltrix                                    open the desktop windows\n"
        "  sudo veltrix --batch --name office-pc      this computer into ./office-pc.htm\n"
        "  veltrix --batch --name pc12 --comment \"after repair\" --output-dir /srv/reports --open\n"
        "  sudo veltrix --batch --name pc12 --save-snapshot pc12.json   record the scan as well\n"
        "  veltrix --batch --name pc12 --snapshot pc12.json             the same report on any computer\n"
        "\n"
        "More in the manual page: man veltrix\n";
    const int code = veltrix::runBatch(argc, argv, environment);
    // Every file is closed by now; what stdio still holds goes out, then the
    // process ends without running destructors.
    std::fflush(nullptr);
    std::_Exit(code);
}
