// `veltrix store add|overview ...`: the fleet store on the command line.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "core/result.h"
#include "data/report_model.h"

namespace veltrix {

// Turns one input file (a saved report or a snapshot) into a report model.
using StoreInputLoader = std::function<Result<data::Report>(const std::string& path)>;

// argv[0] is "store". Exit 0 on success; for add, 1 when some input was
// skipped and 2 when none could be loaded; 2 for bad arguments or a store
// that cannot be reached or used.
int runStoreCommand(int argc, char** argv, const StoreInputLoader& load, std::FILE* out = stdout,
                    std::FILE* err = stderr);

// The same with the program's own reader for reports and snapshots.
int runStoreCommand(int argc, char** argv, std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace veltrix
