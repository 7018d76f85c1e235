// Where the agent keeps its state on Windows, and who may read it.
#pragma once

#include <string>

#include "core/result.h"

namespace veltrix::win {

// %ProgramData%\Veltrix.
std::string agentStateFolder();

// Gives the folder (and what is created in it) to SYSTEM and the
// Administrators alone, inheriting nothing from the folder above.
Status restrictToAdministrators(const std::string& folder);

}  // namespace veltrix::win
