// Line by line reading of a single-byte text file opened with the C library;
// lines end with CR LF, LF or a lone CR.
#pragma once

#include <cstdio>
#include <memory>

#include "core/platform.h"

namespace veltrix {

// Takes ownership of `file` and closes it.
std::unique_ptr<LineReader> makeFileLineReader(std::FILE* file);

}  // namespace veltrix
