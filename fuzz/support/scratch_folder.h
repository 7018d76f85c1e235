// One private folder per fuzzing process, emptied between inputs and removed
// when the process ends.
#pragma once

#include <filesystem>

namespace veltrix::fuzzing {

// The folder, created on first use; empty whenever this returns.
const std::filesystem::path& freshScratchFolder();

}  // namespace veltrix::fuzzing
