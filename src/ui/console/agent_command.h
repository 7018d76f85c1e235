// `veltrix agent enrol|run|status|schedule|unschedule`: this computer
// reports to a fleet server by itself. Enrolment trades a shared secret for a
// key of this computer's own; every run scans, spools the scan and sends the
// spool; schedule makes the system start a run every day.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "ui/console/agent_scheduler.h"
#include "ui/console/agent_state.h"
#include "ui/console/batch.h"
#include "ui/console/upload_client.h"

namespace veltrix {

struct AgentEnvironment {
    // The scan's sources and platform services (liveService, makePlatform,
    // makeLocale), as the batch command line uses them.
    BatchEnvironment& scan;
    UploadClientFactory makeClient;
    // /var/lib/veltrix on Linux, %ProgramData%\Veltrix on Windows.
    std::string defaultStateFolder;
    FolderGuard guardFolder;
    // Left empty: the real clock and a real random spread.
    std::function<void(std::chrono::milliseconds)> sleep;
    std::function<double()> uniform;
    // Makes the daily `agent run` start by itself once this computer is
    // enrolled into the default state folder (the one that run uses): one
    // line saying what was done, or a failure. Empty where there is nothing
    // to enable.
    std::function<Result<std::string>()> enableDailyRun;
    AgentScheduler scheduler;
};

// argv[0] is "agent". Exit 0 when the server has every scan (enrol: when
// this computer is enrolled; schedule, unschedule: when done), 1 when scans
// wait in the spool or the scan failed (schedule, unschedule: when the
// scheduler refused or holds no task), 2 for bad arguments, a refused
// secret or a refused key, and schedule where there is no scheduler or
// before enrolment.
int runAgentCommand(int argc, char** argv, AgentEnvironment& environment, std::FILE* out = stdout,
                    std::FILE* err = stderr);

}  // namespace veltrix
