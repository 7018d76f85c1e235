// The batch command line: the same scan without windows, for scripts and
// headless machines.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/platform.h"
#include "core/result.h"
#include "core/locale.h"
#include "wmi/class_cache.h"
#include "wmi/service.h"

namespace veltrix {

enum BatchExit { kExitOk = 0, kExitScanFailed = 1, kExitBadInput = 2 };

struct BatchEnvironment {
    // This machine's data source (live WMI on Windows, our provider on Linux).
    std::function<Result<std::shared_ptr<wmi::Service>>()> liveService;
    // The same source reading a captured system below a directory instead of
    // this machine (--sysroot); left empty where the platform has none.
    std::function<Result<std::shared_ptr<wmi::Service>>(const std::string& root)> sysrootService;
    // Platform services writing reports into `outputFolder`.
    std::function<std::unique_ptr<Platform>(const std::string& outputFolder)> makePlatform;
    std::function<std::unique_ptr<Locale>()> makeLocale;
    // Runs `store ...` (argv[0] is "store") and returns its exit code. Kept
    // out of this library so that a program that never opens a store does
    // not link the database libraries; left empty, the command is refused.
    std::function<int(int argc, char** argv, std::FILE* out, std::FILE* err)> storeCommand;
    // Runs `agent ...` (argv[0] is "agent") the same way: the upload client
    // stays out of a program that only scans.
    std::function<int(int argc, char** argv, std::FILE* out, std::FILE* err)> agentCommand;
    // Runs `server ...` (argv[0] is "server") the same way; left empty, refused.
    std::function<int(int argc, char** argv, std::FILE* out, std::FILE* err)> serverCommand;
    // Extra lines for --help about what this platform's data source needs.
    std::string helpNotes;
    // Where the data source is live WMI: --wmi-timeout SECONDS is offered and
    // its value (or the default) is here before liveService is called.
    bool offersWmiTimeout = false;
    std::chrono::milliseconds wmiTimeout = wmi::kDefaultClassDeadline;
    // Whether standard error shows in a terminal (for the progress line);
    // unset, the error stream itself is asked.
    std::optional<bool> errorIsTerminal;
    // What `-` reads where an input file is taken (--snapshot -, export -).
    std::FILE* input = stdin;
};

// Returns the process exit code: 0 the report was written (sections that
// failed are named in one line on `err`), 1 the report could not be written or
// the scan reached no data source at all, 2 bad arguments or a bad snapshot.
int runBatch(int argc, char** argv, BatchEnvironment& environment, std::FILE* out = stdout,
             std::FILE* err = stderr);

}  // namespace veltrix
