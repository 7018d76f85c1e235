// The blank test the memory section applies to most module properties.
#pragma once

#include "wmi/value.h"

namespace veltrix {

// True for Null and for text that is empty once leading and trailing spaces
// are gone. Numbers and truth values ("0", "False") are never blank.
bool IsBlankValue(const wmi::Value& value);

}  // namespace veltrix
