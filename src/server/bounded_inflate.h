// A gzip body inflated with a running count, so that a small body that
// would inflate to gigabytes is refused while it inflates, not after.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/result.h"

namespace veltrix::server {

inline constexpr std::int32_t kNotGzip = 400;
inline constexpr std::int32_t kInflatesTooLarge = 413;

// The bytes of one gzip stream (several members are joined, as gunzip
// does). kNotGzip for anything that is not whole, valid gzip, trailing
// bytes included; kInflatesTooLarge as soon as the output would pass `limit`.
Result<std::string> inflateGzip(std::string_view body, std::size_t limit);

}  // namespace veltrix::server
