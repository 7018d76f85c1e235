// Veltrix on Windows: the batch command line with arguments, live WMI as the
// data source.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/windows/utf16.h"
#include "platform/windows/windows_locale.h"
#include "platform/windows/windows_platform.h"
#include "providers/windows/live_service.h"
#include "ui/console/batch.h"

namespace {

// The arguments as UTF-8: the narrow argv of the C runtime holds only what
// the ANSI code page can say.
std::vector<std::string> utf8Arguments() {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(veltrix::win::toUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

}  // namespace

int main() {
    std::vector<std::string> arguments = utf8Arguments();
    if (arguments.size() <= 1) {
        std::fputs("veltrix: the desktop windows are not built into this program yet; use --batch (see --help)\n",
                   stderr);
        return veltrix::kExitBadInput;
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    veltrix::BatchEnvironment environment;
    environment.liveService = []() -> veltrix::Result<std::shared_ptr<veltrix::wmi::Service>> {
        auto service = veltrix::win::LiveService::create();
        if (!service) return service.failure();
        return std::shared_ptr<veltrix::wmi::Service>(std::move(*service));
    };
    environment.makePlatform = [](const std::string& folder) -> std::unique_ptr<veltrix::Platform> {
        return std::make_unique<veltrix::WindowsPlatform>(folder);
    };
    environment.makeLocale = []() -> std::unique_ptr<veltrix::Locale> {
        return std::make_unique<veltrix::WindowsLocale>();
    };
    environment.helpNotes = "This computer's data comes from its WMI service.";
    return veltrix::runBatch(static_cast<int>(arguments.size()), argv.data(), environment);
}
