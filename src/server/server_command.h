// `veltrix server run|secret|hosts ...`: the fleet's HTTPS server and its
// administration on the command line.
#pragma once

#include <cstdio>

namespace veltrix {

// argv[0] is "server". Exit 0 on success (for run: stopped by SIGTERM or
// SIGINT), 1 when the store failed a statement, 2 for bad arguments, a store
// that cannot be used, a certificate that cannot be read or an address that
// cannot be listened on, or an unknown secret or host.
int runServerCommand(int argc, char** argv, std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace veltrix
