// HRESULTs as the program reports failures: a number greater than 0 and a
// description that names the call and keeps the HRESULT in hexadecimal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.h"

namespace veltrix::win {

// The low 16 bits of the HRESULT (0x80041010, invalid class, becomes 4112,
// the number the other data sources use for it), or the HRESULT without its
// sign bit when those bits are 0; never 0 or negative.
std::int32_t failureNumber(long hresult);

// "Invalid class (0x80041010)": the name of a known code, or the system's
// text for it, and the code.
std::string describeHresult(long hresult);

// "ExecQuery: Invalid class (0x80041010)".
Failure hresultFailure(std::string_view call, long hresult);

}  // namespace veltrix::win
