// The desktop windows on Linux, a program of their own: `veltrix` without
// arguments becomes this program and passes the folder for the reports as
// the only argument. Started directly, it writes next to itself.
#include <string>

#include "platform/posix/posix_locale.h"
#include "platform/posix/posix_platform.h"
#include "providers/linux/linux_source.h"
#include "ui/qt/desktop.h"
#include "wmi/table_service.h"

int main(int argc, char** argv) {
    const std::string reports = argc > 1 ? argv[1] : veltrix::executableFolder();
    veltrix::PosixPlatform platform(reports);
    veltrix::PosixLocale locale;
    auto source = veltrix::makeLinuxSource("/");
    veltrix::wmi::TableService service(*source);
    // Qt sees only the program name: the folder is ours.
    int qtArgc = 1;
    return veltrix::qt::runDesktop(qtArgc, argv, platform, service, locale);
}
