// The processor's name and maker from /proc/cpuinfo, which each architecture
// spells its own way: "model name" on x86, "Model Name" on LoongArch, "cpu"
// on POWER and SPARC, "cpu model" on MIPS, "uarch" and "isa" on RISC-V, the
// machine type on s390, "family" on IA-64, implementer and part on ARM.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace veltrix::linux_provider {

// One field of the processor's cpuinfo block (or of the lines shared by all
// processors); nullopt when absent or empty.
using CpuinfoField = std::function<std::optional<std::string>(const char* key)>;

struct CpuinfoName {
    std::optional<std::string> name;    // nullopt when the file names no processor
    std::optional<std::string> vendor;  // nullopt when it names no maker
    std::string fallbackName;           // from ARM numbers alone; empty without them
};

CpuinfoName processorNameFromCpuinfo(const CpuinfoField& get);

}  // namespace veltrix::linux_provider
