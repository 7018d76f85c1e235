// Live WMI as a scan reads it: each class enumerated once per scan and the
// classes that cost seconds on a real PC fetched ahead on worker threads.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/result.h"
#include "providers/windows/live_service.h"
#include "wmi/class_cache.h"
#include "wmi/service.h"

namespace veltrix::win {

// The classes whose enumeration takes long on a real PC: signed drivers make
// Windows build driver information for every device, the device list and the
// installed updates come from slow providers too.
const std::vector<std::string>& slowClasses();

// The caching service over `live`, which it keeps alive. Each worker makes a
// LiveService of its own (its own connection, in the multithreaded
// apartment). `whileWaiting` runs while a section waits for a worker; by
// default it dispatches the thread's window messages. `classDeadline` bounds
// each class: past it the class fails as timed out and the scan goes on.
Result<std::shared_ptr<wmi::Service>> makeScanService(
    std::shared_ptr<LiveService> live, std::function<void()> whileWaiting = {},
    std::chrono::milliseconds classDeadline = wmi::kDefaultClassDeadline);

// Dispatches the calling thread's waiting window messages.
void dispatchWindowMessages();

}  // namespace veltrix::win
