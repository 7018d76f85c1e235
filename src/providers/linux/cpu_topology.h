// Processor packages from /proc/cpuinfo and the CPU topology in sysfs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "providers/linux/machine_data.h"

namespace veltrix::linux_provider {

struct CpuPackage {
    std::string name;
    std::optional<std::string> vendor;
    std::optional<std::uint64_t> family, model, stepping;
    int cores = 0;
    int threads = 0;
    std::optional<std::uint64_t> maxMhz;
    std::optional<std::uint64_t> l2Kb;  // all level-2 caches of the package
};

std::vector<CpuPackage> readCpuPackages(MachineData& m);

}  // namespace veltrix::linux_provider
