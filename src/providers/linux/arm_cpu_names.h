// Names of ARM processors from the implementer and part numbers their
// cpuinfo gives instead of a model name (published in the architecture
// manual and the makers' core manuals).
#pragma once

#include <optional>
#include <string>

namespace veltrix::linux_provider {

struct ArmProcessor {
    std::optional<std::string> name;    // "ARM Cortex-A72"; nullopt when the part is not known
    std::optional<std::string> vendor;  // "ARM"; nullopt when the implementer is not known
    std::string fallbackName;           // from the numbers alone; empty without them
};

// From the "CPU implementer" and "CPU part" fields ("0x41", "0xd08").
ArmProcessor armProcessor(const std::optional<std::string>& implementer, const std::optional<std::string>& part);

}  // namespace veltrix::linux_provider
