// Runs every section of a report against a data source, in memory, the way
// a batch scan does, and hands back the encoded report. Nothing is opened in
// a viewer and no program is started.
#pragma once

#include <string>

#include "wmi/service.h"

namespace veltrix::fuzzing {

std::string scanToMemory(wmi::Service& service);

}  // namespace veltrix::fuzzing
