// `veltrix compare OLD NEW [--format text|html|json] [--output FILE] [--open]`:
// what changed on a machine between two reports or snapshots.
#pragma once

#include <cstdio>

#include "ui/console/batch.h"

namespace veltrix {

// argv[0] is "compare". Exit codes as diff's: 0 the two are the same, 1 they
// differ, 2 trouble (bad arguments, an unreadable input, output not written).
int runCompare(int argc, char** argv, BatchEnvironment& environment, std::FILE* out = stdout,
               std::FILE* err = stderr);

}  // namespace veltrix
