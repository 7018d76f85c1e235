// Reading the connection texts the collectors use.
#pragma once

#include <string>
#include <string_view>

#include "core/result.h"

namespace veltrix::wmi {

struct Moniker {
    std::string nameSpace;   // lower case, backslashes, e.g. "root\cimv2"
    std::string className;   // "StdRegProv" for the registry moniker, else empty
};

// Accepts "winmgmts:[{...}!]\\HOST\ns" and "winmgmts://HOST/ns[:Class]" with
// HOST "." or the local computer's name.
Result<Moniker> parseMoniker(std::string_view text, std::string_view localHostName = {});

}  // namespace veltrix::wmi
