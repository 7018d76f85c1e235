#include "providers/windows/hresult.h"

#include <cstdio>

#include "platform/windows/utf16.h"

namespace veltrix::win {

namespace {

struct KnownCode {
    unsigned long code;
    const char* text;
};

// The codes a scan meets in practice. Anything else takes the system's text.
constexpr KnownCode kKnownCodes[] = {
    {0x80041001, "Generic failure"},
    {0x80041002, "Not found"},
    {0x80041003, "Access denied"},
    {0x80041004, "Provider failure"},
    {0x80041005, "Type mismatch"},
    {0x80041006, "Out of memory"},
    {0x80041007, "Invalid context"},
    {0x80041008, "Invalid parameter"},
    {0x80041009, "Not available"},
    {0x8004100A, "Critical error"},
    {0x8004100C, "Not supported"},
    {0x8004100E, "Invalid namespace"},
    {0x8004100F, "Invalid object"},
    {0x80041010, "Invalid class"},
    {0x80041011, "Provider not found"},
    {0x80041013, "Provider load failure"},
    {0x80041014, "Initialization failure"},
    {0x80041015, "Transport failure"},
    {0x80041016, "Invalid operation"},
    {0x80041017, "Invalid query"},
    {0x80041018, "Invalid query type"},
    {0x8004101D, "Unexpected"},
    {0x80041021, "Invalid syntax"},
    {0x80041024, "Provider not capable"},
    {0x80041027, "Query not implemented"},
    {0x8004102E, "Invalid method"},
    {0x8004102F, "Invalid method parameters"},
    {0x80041031, "Invalid property"},
    {0x80041032, "Call cancelled"},
    {0x80041033, "Shutting down"},
    {0x80041045, "Server too busy"},
    {0x80041055, "Method not implemented"},
    {0x80041056, "Method disabled"},
    {0x80043001, "Timed out"},
    {0x80004001, "Not implemented"},
    {0x80004002, "No such interface supported"},
    {0x80004003, "Invalid pointer"},
    {0x80004005, "Unspecified error"},
    {0x8000FFFF, "Catastrophic failure"},
    {0x80040154, "Class not registered"},
    {0x800401F0, "CoInitialize has not been called"},
    {0x80010106, "Cannot change thread mode after it is set"},
    {0x80010119, "Security must be initialized before any interfaces are marshalled or unmarshalled"},
    {0x80070005, "Access is denied"},
    {0x8007000E, "Not enough memory resources are available to complete this operation"},
    {0x80070057, "The parameter is incorrect"},
    {0x800706BA, "The RPC server is unavailable"},
    {0x800706BE, "The remote procedure call failed"},
};

}  // namespace

std::int32_t failureNumber(long hresult) {
    auto bits = static_cast<unsigned long>(hresult);
    std::int32_t low = static_cast<std::int32_t>(bits & 0xFFFFu);
    if (low != 0) return low;
    std::int32_t withoutSign = static_cast<std::int32_t>(bits & 0x7FFFFFFFu);
    return withoutSign != 0 ? withoutSign : 1;
}

std::string describeHresult(long hresult) {
    auto bits = static_cast<unsigned long>(hresult) & 0xFFFFFFFFu;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", bits);
    std::string text;
    for (const KnownCode& known : kKnownCodes) {
        if (known.code == bits) text = known.text;
    }
    if (text.empty()) text = systemMessage(bits);
    if (text.empty()) text = "Unknown failure";
    return text + " (" + hex + ")";
}

Failure hresultFailure(std::string_view call, long hresult) {
    return Failure{failureNumber(hresult), std::string(call) + ": " + describeHresult(hresult)};
}

}  // namespace veltrix::win
