// The upload port over libcurl. Only the agent's program links it.
#pragma once

#include "ui/console/upload_client.h"

namespace veltrix {

Result<std::unique_ptr<UploadClient>> makeCurlUploadClient(const UploadTrust& trust);

}  // namespace veltrix
