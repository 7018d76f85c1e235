// Where the export, compare and store commands put their result: stdout, or
// a file that appears whole or not at all.
#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"

namespace veltrix {

// Writes `bytes` to `path` through a temporary file beside it, renamed over
// the target when complete; or to `out` when `path` is empty or `-`. A folder
// given as the file, or a file in a folder that does not exist, is refused
// before anything is written.
Status WriteCommandOutput(const std::string& path, std::string_view bytes, std::FILE* out);

void PrintLine(std::FILE* f, const std::string& text);

}  // namespace veltrix
