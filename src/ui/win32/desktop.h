// The desktop windows on Win32: the program's face when it is started
// without arguments on Windows.
#pragma once

#include "core/platform.h"
#include "core/locale.h"
#include "wmi/service.h"

namespace veltrix::win32 {

// Shows the start-up and main windows and runs the message loop until the
// main window is unloaded (Exit, or the end of a scan). Returns the exit code.
int runDesktop(Platform& platform, wmi::Service& wmi, const Locale& locale);

}  // namespace veltrix::win32
