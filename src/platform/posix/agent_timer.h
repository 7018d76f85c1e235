// Enrolment makes the daily agent run start by itself where the package's
// systemd timer is installed, so that a deployment tool has only
// `veltrix agent enrol` to run on each PC.
#pragma once

#include <string>

#include "core/result.h"

namespace veltrix {

// `systemctl enable veltrix-agent.timer`, with --now where systemd runs this
// computer. What was done, or why nothing was (no timer installed), as one
// line; a failure when systemctl refused.
Result<std::string> enableAgentTimer();

}  // namespace veltrix
