// The desktop windows on Qt 6: the program's face when it is started without
// arguments on Linux.
#pragma once

#include "core/platform.h"
#include "core/locale.h"
#include "wmi/service.h"

namespace veltrix::qt {

// Builds the application, shows the start-up and main windows and runs until
// the main window is unloaded (Exit, or the end of a scan). Returns the
// event loop's exit code.
int runDesktop(int argc, char** argv, Platform& platform, wmi::Service& wmi, const Locale& locale);

}  // namespace veltrix::qt
