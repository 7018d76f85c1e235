// The platform services of the system the tests run on.
#pragma once

#ifdef _WIN32
#include "platform/windows/windows_platform.h"
#else
#include "platform/posix/posix_platform.h"
#endif

namespace veltrix::test {

#ifdef _WIN32
using NativePlatform = WindowsPlatform;
#else
using NativePlatform = PosixPlatform;
#endif

}  // namespace veltrix::test
