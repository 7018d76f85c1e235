// A VARIANT as WMI hands it out, turned into the program's property value.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "core/result.h"
#include "wmi/value.h"

namespace veltrix::win {

// Whole numbers become Int32 (an unsigned 32-bit or 64-bit number beyond
// that range becomes the text of its digits, as WMI delivers 64-bit
// numbers), BSTR becomes UTF-8 text, VT_NULL and VT_EMPTY Null, a
// one-dimensional SAFEARRAY an Array. Another kind is converted to text when
// the system can; otherwise the result is a type-mismatch failure naming it.
Result<wmi::Value> valueFromVariant(const VARIANT& variant);

}  // namespace veltrix::win
