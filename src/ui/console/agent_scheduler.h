// The port to the system's scheduler for the agent's daily run, with a side
// for each system that has one (the Task Scheduler on Windows).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/result.h"

namespace veltrix {

// The daily `agent run` that the system starts by itself.
struct DailyAgentRun {
    int hour = 0;
    int minute = 0;
    // What follows the program's name: "agent", "run" and, for a state
    // folder other than the default, "--state-dir" and the folder.
    std::vector<std::string> arguments;
};

namespace schedule_failure {
// The caller lacks the rights (an administrator is needed).
constexpr std::int32_t kNoRights = 1;
// unschedule: there is no task to remove.
constexpr std::int32_t kNoTask = 2;
constexpr std::int32_t kOther = 3;
}  // namespace schedule_failure

// The system's scheduler: the Task Scheduler on Windows. Left empty where
// the system's own units do the job (the systemd timer on Linux).
struct AgentScheduler {
    // Registers the daily run, replacing one registered before.
    std::function<Status(const DailyAgentRun&)> schedule;
    std::function<Status()> unschedule;
};

}  // namespace veltrix
