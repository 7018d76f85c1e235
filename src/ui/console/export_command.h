// `veltrix export [--format json|csv] [--output FILE] INPUT...`: reports and
// snapshots as JSON or CSV.
#pragma once

#include <cstdio>

#include "ui/console/batch.h"

namespace veltrix {

// argv[0] is "export". Exit 0 when written, 1 when the output could not be
// written, 2 for bad arguments or an input that is neither report nor snapshot.
int runExport(int argc, char** argv, BatchEnvironment& environment, std::FILE* out = stdout,
              std::FILE* err = stderr);

}  // namespace veltrix
