// Veltrix on Windows: the desktop windows without arguments, the batch
// command line with them; live WMI is the data source of both.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/windows/agent_folder.h"
#include "platform/windows/agent_task.h"
#include "platform/windows/console_streams.h"
#include "platform/windows/report_folder.h"
#include "platform/windows/utf16.h"
#include "platform/windows/winhttp_upload_client.h"
#include "platform/windows/windows_locale.h"
#include "platform/windows/windows_platform.h"
#include "core/trace.h"
#include "providers/windows/scan_service.h"
#include "ui/console/agent_command.h"
#include "ui/console/batch.h"
#include "ui/console/store_command.h"
#include "ui/win32/desktop.h"
#include "ui/win32/win32_windows.h"

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

// No arguments: the desktop windows, reports in the program's folder, or in
// the user's Documents folder where that is closed to the user (an
// installed copy); the message at the end of a scan names the file.
int runWindows() {
    // veltrix.com started by a double click got a console of its own: let it
    // go. Started from a console, that console stays with its owner.
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
    if (veltrix::trace::requestedByEnvironment()) veltrix::trace::setSink(veltrix::trace::writeTo(stderr));
    auto live = veltrix::win::LiveService::create();
    // While a section waits for a class fetched ahead, the windows keep answering.
    auto service = live ? veltrix::win::makeScanService(std::move(*live), veltrix::win32::pumpMessages)
                        : live.failure();
    if (!service) {
        std::wstring text = veltrix::win::toWide(service.failure().description);
        MessageBoxW(nullptr, text.c_str(), L"Veltrix", MB_OK | MB_ICONERROR);
        return 1;
    }
    veltrix::WindowsPlatform platform(veltrix::win::desktopReportFolder(veltrix::executableFolder()));
    veltrix::WindowsLocale locale;
    return veltrix::win32::runDesktop(platform, **service, locale);
}

}  // namespace

int main() {
    std::vector<std::string> arguments = utf8Arguments();
    if (arguments.size() <= 1) return runWindows();
    // veltrix.exe belongs to the windows subsystem and starts without a
    // console: with arguments it borrows the console of whoever started it,
    // for the lines that were not redirected elsewhere; veltrix.com has a
    // console already. The lines are UTF-8, as every text inside the
    // program, and reach a console as wide characters, so the console's
    // code page is left as the user set it.
    veltrix::win::ConsoleStreams streams(true);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    veltrix::BatchEnvironment environment;
    environment.errorIsTerminal = streams.errorIsConsole();
    environment.offersWmiTimeout = true;
    environment.liveService = [&environment]() -> veltrix::Result<std::shared_ptr<veltrix::wmi::Service>> {
        auto live = veltrix::win::LiveService::create();
        if (!live) return live.failure();
        return veltrix::win::makeScanService(std::move(*live), {}, environment.wmiTimeout);
    };
    environment.storeCommand = [](int argc, char** argv, std::FILE* out, std::FILE* err) {
        return veltrix::runStoreCommand(argc, argv, out, err);
    };
    environment.makePlatform = [](const std::string& folder) -> std::unique_ptr<veltrix::Platform> {
        return std::make_unique<veltrix::WindowsPlatform>(folder);
    };
    // WinHTTP is part of Windows: the agent is linked in, not a program of its own.
    environment.agentCommand = [&environment](int argc, char** argv, std::FILE* out, std::FILE* err) {
        veltrix::AgentEnvironment agent{environment, veltrix::makeWinHttpUploadClient, veltrix::win::agentStateFolder(),
                                        veltrix::win::restrictToAdministrators, {}, {}, {},
                                        {veltrix::win::scheduleAgentTask, veltrix::win::unscheduleAgentTask}};
        return veltrix::runAgentCommand(argc, argv, agent, out, err);
    };
    environment.makeLocale = []() -> std::unique_ptr<veltrix::Locale> {
        return std::make_unique<veltrix::WindowsLocale>();
    };
    environment.helpNotes =
        "This computer's data comes from its WMI service.\n"
        "\n"
        "Examples:\n"
        "  veltrix                                    open the desktop windows\n"
        "  veltrix --batch --name office-pc           this computer into .\\office-pc.htm\n"
        "  veltrix --batch --name pc12 --comment \"after repair\" --output-dir D:\\reports --open\n"
        "  veltrix --batch --name pc12 --save-snapshot pc12.json   record the scan as well\n"
        "  veltrix --batch --name pc12 --snapshot pc12.json        the same report on any computer\n"
        "  veltrix --batch --name pc12 --wmi-timeout 300           give slow WMI classes five minutes each\n";
    return veltrix::runBatch(static_cast<int>(arguments.size()), argv.data(), environment, streams.out(),
                             streams.err());
}
