// Processors and the computer system that holds them.
#include "providers/linux/class_builders.h"
#include "providers/linux/cpu_topology.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

using wmi::PropertyObject;
using wmi::Value;

namespace {
Value int32Or(const std::optional<std::uint64_t>& n) {
    if (!n || *n > 0x7FFFFFFFu) return Value::null();
    return Value::int32(static_cast<std::int32_t>(*n));
}

// The processor architecture numbers WMI uses.
std::optional<std::int32_t> architectureCode(const std::optional<std::string>& machine) {
    if (!machine) return std::nullopt;
    if (*machine == "x86_64") return 9;
    if (*machine == "aarch64") return 12;
    if (machine->size() == 4 && (*machine)[0] == 'i' && machine->substr(2) == "86") return 0;
    if (startsWith(*machine, "arm")) return 5;
    return std::nullopt;
}
}  // namespace

Objects buildProcessors(MachineData& m) {
    Objects out;
    auto machine = m.machineArchitecture();
    int index = 0;
    for (const CpuPackage& p : readCpuPackages(m)) {
        PropertyObject o;
        o.set("DeviceID", Value::text("CPU" + std::to_string(index++)));
        o.set("Name", p.name.empty() ? Value::null() : Value::text(p.name));
        o.set("Manufacturer", textOrNull(p.vendor));
        std::string description = machine.value_or("Processor");
        if (p.family && p.model && p.stepping)
            description += " Family " + std::to_string(*p.family) + " Model " + std::to_string(*p.model) +
                           " Stepping " + std::to_string(*p.stepping);
        o.set("Description", Value::text(description));
        o.set("Caption", Value::text(description));
        o.set("NumberOfCores", Value::int32(p.cores));
        o.set("NumberOfLogicalProcessors", Value::int32(p.threads));
        o.set("MaxClockSpeed", int32Or(p.maxMhz));
        o.set("L2CacheSize", int32Or(p.l2Kb));
        auto arch = architectureCode(machine);
        o.set("Architecture", arch ? Value::int32(*arch) : Value::null());
        o.set("AddressWidth", machine ? Value::int32(m.is64Bit() ? 64 : 32) : Value::null());
        o.set("Status", Value::text("OK"));
        out.push_back(share(std::move(o)));
    }
    return out;
}

Objects buildComputerSystem(MachineData& m) {
    const SmbiosInventory* table = m.smbios();
    std::optional<SmbiosSystem> ts = table ? table->system : std::nullopt;
    auto packages = readCpuPackages(m);
    int threads = 0;
    for (const auto& p : packages) threads += p.threads;
    auto machine = m.machineArchitecture();
    std::optional<std::string> systemType;
    if (machine == std::optional<std::string>("x86_64")) systemType = "x64-based PC";
    else if (machine == std::optional<std::string>("aarch64")) systemType = "ARM64-based PC";
    else if (machine && machine->size() == 4 && (*machine)[0] == 'i') systemType = "X86-based PC";

    PropertyObject o;
    o.set("Name", textOrNull(m.files.attribute("/proc/sys/kernel/hostname")));
    o.set("Manufacturer", textOrNull(either(m.dmi("sys_vendor"), ts ? ts->manufacturer : std::nullopt)));
    o.set("Model", textOrNull(either(m.dmi("product_name"), ts ? ts->product : std::nullopt)));
    o.set("SystemType", textOrNull(systemType));
    o.set("NumberOfProcessors", Value::int32(static_cast<std::int32_t>(packages.size())));
    o.set("NumberOfLogicalProcessors", Value::int32(threads));
    auto memory = m.memTotalBytes();
    o.set("TotalPhysicalMemory", memory ? Value::text(std::to_string(*memory)) : Value::null());
    return {share(std::move(o))};
}

}  // namespace veltrix::linux_provider
