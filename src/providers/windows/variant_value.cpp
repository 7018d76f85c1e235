#include "providers/windows/variant_value.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/windows/utf16.h"
#include "providers/windows/com_handles.h"
#include "providers/windows/hresult.h"

namespace veltrix::win {

namespace {

wmi::Value wholeNumber(std::int64_t n) {
    if (n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max()) {
        return wmi::Value::int32(static_cast<std::int32_t>(n));
    }
    return wmi::Value::text(std::to_string(n));
}

wmi::Value wholeNumber(std::uint64_t n) {
    if (n <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        return wmi::Value::int32(static_cast<std::int32_t>(n));
    }
    return wmi::Value::text(std::to_string(n));
}

Failure typeMismatch(VARTYPE type) {
    return Failure{failure_code::kTypeMismatch,
                   "Type mismatch: a property of variant type " + std::to_string(type) + " cannot be read"};
}

Result<wmi::Value> arrayFromVariant(const VARIANT& variant) {
    SAFEARRAY* array = (variant.vt & VT_BYREF) ? *variant.pparray : variant.parray;
    if (!array) return wmi::Value::null();
    if (SafeArrayGetDim(array) != 1) return typeMismatch(variant.vt);
    LONG lower = 0, upper = -1;
    HRESULT hr = SafeArrayGetLBound(array, 1, &lower);
    if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(array, 1, &upper);
    if (FAILED(hr)) return hresultFailure("SafeArrayGetBound", hr);

    VARTYPE elementType = static_cast<VARTYPE>(variant.vt & VT_TYPEMASK);
    std::vector<wmi::Value> items;
    for (LONG i = lower; i <= upper; ++i) {
        // Every element lands in a VARIANT: a VARIANT element is copied as it
        // is, any other type is written into the union, which starts at the
        // same address for every member.
        Variant item;
        if (elementType == VT_VARIANT) {
            hr = SafeArrayGetElement(array, &i, item.put());
        } else {
            VARIANT* slot = item.put();
            hr = SafeArrayGetElement(array, &i, &slot->llVal);
            if (SUCCEEDED(hr)) slot->vt = elementType;
        }
        if (FAILED(hr)) return hresultFailure("SafeArrayGetElement", hr);
        auto value = valueFromVariant(item.get());
        if (!value) return value.failure();
        items.push_back(std::move(*value));
    }
    return wmi::Value::array(std::move(items));
}

}  // namespace

Result<wmi::Value> valueFromVariant(const VARIANT& variant) {
    if (variant.vt & VT_ARRAY) return arrayFromVariant(variant);
    if (variant.vt & VT_BYREF) {
        if (variant.vt == (VT_BYREF | VT_VARIANT) && variant.pvarVal) return valueFromVariant(*variant.pvarVal);
        return typeMismatch(variant.vt);
    }
    switch (variant.vt) {
        case VT_EMPTY:
        case VT_NULL:
            return wmi::Value::null();
        case VT_BOOL:
            return wmi::Value::boolean(variant.boolVal != VARIANT_FALSE);
        case VT_UI1:
            return wmi::Value::uint8(variant.bVal);
        case VT_I1:
            return wmi::Value::int32(variant.cVal);
        case VT_I2:
            return wmi::Value::int32(variant.iVal);
        case VT_UI2:
            return wmi::Value::int32(variant.uiVal);
        case VT_I4:
        case VT_INT:
            return wmi::Value::int32(variant.lVal);
        case VT_UI4:
        case VT_UINT:
            return wholeNumber(static_cast<std::uint64_t>(variant.ulVal));
        case VT_I8:
            return wholeNumber(static_cast<std::int64_t>(variant.llVal));
        case VT_UI8:
            return wholeNumber(static_cast<std::uint64_t>(variant.ullVal));
        case VT_R4:
            return wmi::Value::real32(variant.fltVal);
        case VT_R8:
            return wmi::Value::real64(variant.dblVal);
        case VT_BSTR:
            return wmi::Value::text(
                variant.bstrVal ? toUtf8(std::wstring_view(variant.bstrVal, SysStringLen(variant.bstrVal)))
                                : std::string());
        default:
            break;
    }
    // Dates, currency, decimals: the system's own text for them.
    Variant asText;
    HRESULT hr = VariantChangeType(asText.put(), const_cast<VARIANT*>(&variant), 0, VT_BSTR);
    if (FAILED(hr) || asText.get().vt != VT_BSTR) return typeMismatch(variant.vt);
    return valueFromVariant(asText.get());
}

}  // namespace veltrix::win
