// The upload port over WinHTTP, which every Windows has: the agent needs no
// DLL beside veltrix.exe.
#pragma once

#include "ui/console/upload_client.h"

namespace veltrix {

Result<std::unique_ptr<UploadClient>> makeWinHttpUploadClient(const UploadTrust& trust);

}  // namespace veltrix
