// The desktop windows on Linux, a program of their own: `veltrix` without
// arguments becomes this program and passes the folder for the reports as
// the only argument. Started directly, it writes next to itself.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix/posix_locale.h"
#include "platform/posix/posix_platform.h"
#include "providers/linux/linux_source.h"
#include "ui/console/batch.h"
#include "ui/qt/desktop.h"
#include "wmi/table_service.h"

namespace {

// Qt ends the process with an abort when it finds no display; a session
// without one (ssh, a console, cron) gets a sentence and the way out instead.
bool haveDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (!haveDisplay()) {
        std::fputs("veltrix: no display for the desktop windows; use --batch (see --help)\n", stderr);
        return veltrix::kExitBadInput;
    }
    const std::string reports = argc > 1 ? argv[1] : veltrix::executableFolder();
    veltrix::PosixPlatform platform(reports);
    veltrix::PosixLocale locale;
    auto source = veltrix::makeLinuxSource("/");
    veltrix::wmi::TableService service(*source);
    // Qt sees only the program name: the folder is ours.
    int qtArgc = 1;
    return veltrix::qt::runDesktop(qtArgc, argv, platform, service, locale);
}
