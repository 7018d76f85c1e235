// Upload bodies travel compressed: a scan's JSON shrinks to about a tenth.
#pragma once

#include <string>
#include <string_view>

#include "core/result.h"

namespace veltrix {

// `bytes` as one gzip member (RFC 1952), as `Content-Encoding: gzip` means.
Result<std::string> gzipCompress(std::string_view bytes);

// The bytes of one gzip member, refused once they would pass `limit`; a
// failure says what was wrong with the input.
Result<std::string> gzipDecompress(std::string_view gzip, std::size_t limit);

}  // namespace veltrix
