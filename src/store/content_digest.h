// The digest that recognises an input already in the store: SHA-256 of its
// bytes, as 64 lower-case hex digits.
#pragma once

#include <string>
#include <string_view>

#include "core/result.h"

namespace veltrix::store {

std::string contentDigest(std::string_view bytes);
// Reads the file in pieces, so a large input is never held whole for this.
Result<std::string> fileDigest(const std::string& path);

}  // namespace veltrix::store
