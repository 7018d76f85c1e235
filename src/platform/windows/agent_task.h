// The agent's daily run as a task of the Windows Task Scheduler, registered
// and removed through its COM interface.
#pragma once

#include "core/result.h"
#include "ui/console/agent_scheduler.h"

namespace veltrix::win {

// "Veltrix agent" in the scheduler's top folder: veltrix.com beside the
// running program (the running program itself where there is none) with the
// run's arguments, daily as SYSTEM. Failures carry schedule_failure codes.
Status scheduleAgentTask(const DailyAgentRun& run);
Status unscheduleAgentTask();

}  // namespace veltrix::win
