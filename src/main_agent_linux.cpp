// The agent's program on Linux: `veltrix agent ARGS...` becomes
// `veltrix-agent ARGS...`, so that only this program links libcurl. It scans
// this computer through our own provider, as `veltrix --batch` does.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "platform/posix/agent_timer.h"
#include "platform/posix/curl_upload_client.h"
#include "platform/posix/posix_locale.h"
#include "platform/posix/posix_platform.h"
#include "providers/linux/linux_source.h"
#include "ui/console/agent_command.h"
#include "wmi/table_service.h"

namespace {

struct LinuxService {
    explicit LinuxService(std::unique_ptr<veltrix::wmi::ClassSource> from) : source(std::move(from)) {}
    std::unique_ptr<veltrix::wmi::ClassSource> source;
    veltrix::wmi::TableService service{*source};
};

}  // namespace

int main(int argc, char** argv) {
    // A server that goes away while a body is being sent is a failed upload
    // (the scan stays in the spool), not a reason for the process to die.
    std::signal(SIGPIPE, SIG_IGN);
    // As in the command line, the provider is never taken apart.
    std::shared_ptr<LinuxService> provider;
    veltrix::BatchEnvironment scan;
    scan.liveService = [&provider]() -> veltrix::Result<std::shared_ptr<veltrix::wmi::Service>> {
        provider = std::make_shared<LinuxService>(veltrix::makeLinuxSource("/"));
        return std::shared_ptr<veltrix::wmi::Service>(provider, &provider->service);
    };
    scan.makePlatform = [](const std::string& folder) -> std::unique_ptr<veltrix::Platform> {
        return std::make_unique<veltrix::PosixPlatform>(folder);
    };
    scan.makeLocale = []() -> std::unique_ptr<veltrix::Locale> { return std::make_unique<veltrix::PosixLocale>(); };
    veltrix::AgentEnvironment environment{scan, veltrix::makeCurlUploadClient, "/var/lib/veltrix", {}, {}, {},
                                          veltrix::enableAgentTimer};
    const int code = veltrix::runAgentCommand(argc, argv, environment);
    std::fflush(nullptr);
    std::_Exit(code);
}
