// A connection text read as a moniker, and handed to a data source's connect
// and connectRegistry, which parse it the same way before answering.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "wmi/moniker.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto moniker = veltrix::wmi::parseMoniker(text, "FUZZHOST");
    if (!moniker) return 0;
    // What a moniker that reads must give: a lower-case namespace of plain
    // parts, never empty, never with an empty part.
    const std::string& ns = moniker->nameSpace;
    if (ns.empty() || ns.front() == '\\' || ns.back() == '\\' || ns.find("\\\\") != std::string::npos) std::abort();
    for (char c : ns)
        if (c >= 'A' && c <= 'Z') std::abort();
    return 0;
}
