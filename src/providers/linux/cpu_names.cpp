#include "providers/linux/cpu_names.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string_view>

#include "providers/linux/arm_cpu_names.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

namespace {
// s390 gives no model name, only the machine type the processor belongs to;
// people know the machines by their generation's name.
struct MachineType {
    std::uint32_t type;
    const char* name;
};
constexpr MachineType kS390Machines[] = {
    {2064, "z900"},   {2066, "z800"},   {2084, "z990"},     {2086, "z890"},     {2094, "z9 EC"},
    {2096, "z9 BC"},  {2097, "z10 EC"}, {2098, "z10 BC"},   {2817, "z196"},     {2818, "z114"},
    {2827, "zEC12"},  {2828, "zBC12"},  {2964, "z13"},      {2965, "z13s"},     {3906, "z14"},
    {3907, "z14 ZR1"}, {8561, "z15"},   {8562, "z15 T02"},  {3931, "z16"},      {3932, "z16 A02"},
};

// RISC-V names its core by the device tree's "vendor,model" and its maker by
// the JEDEC number the core reports.
struct RiscvVendor {
    const char* prefix;
    std::uint32_t jedec;
    const char* name;
};
constexpr RiscvVendor kRiscvVendors[] = {
    {"sifive", 0x489, "SiFive"}, {"thead", 0x5b7, "T-HEAD"}, {"andestech", 0x31e, "Andes"},
    {"starfive", 0, "StarFive"}, {"spacemit", 0, "SpacemiT"},
};

// "machine = 2964" from s390's "processor 0: version = 00, identification
// = 4729E7, machine = 2964".
std::optional<std::string> s390MachineType(std::string_view line) {
    std::size_t at = line.find("machine");
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view rest = line.substr(at + 7);
    std::size_t eq = rest.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    rest = trimView(rest.substr(eq + 1));
    rest = rest.substr(0, std::min(rest.size(), rest.find_first_of(", ")));
    if (rest.empty()) return std::nullopt;
    return std::string(rest);
}

std::string s390Name(const std::string& type) {
    auto number = parseDecimal(type);
    auto known = std::find_if(std::begin(kS390Machines), std::end(kS390Machines),
                              [&](const MachineType& m) { return number && m.type == *number; });
    if (known != std::end(kS390Machines)) return std::string("IBM ") + known->name + " (" + type + ")";
    return "IBM machine type " + type;
}

// "sifive,u74-mc" -> "SiFive U74-MC"; a maker not known keeps the text as given.
std::string riscvCoreName(const std::string& uarch, std::optional<std::string>& vendor) {
    std::size_t comma = uarch.find(',');
    if (comma == std::string::npos) return uarch;
    const std::string maker = toLower(uarch.substr(0, comma));
    for (const RiscvVendor& v : kRiscvVendors)
        if (maker == v.prefix) {
            vendor = v.name;
            return std::string(v.name) + " " + toUpper(uarch.substr(comma + 1));
        }
    return uarch;
}

std::optional<std::string> riscvVendor(const std::optional<std::string>& jedec) {
    auto id = jedec ? parseHex(*jedec) : std::nullopt;
    if (!id || *id == 0) return std::nullopt;
    for (const RiscvVendor& v : kRiscvVendors)
        if (v.jedec == *id) return std::string(v.name);
    return std::nullopt;
}

bool startsWithDigit(const std::string& text) { return !text.empty() && text[0] >= '0' && text[0] <= '9'; }
}  // namespace

CpuinfoName processorNameFromCpuinfo(const CpuinfoField& get) {
    CpuinfoName out;
    const auto arm = armProcessor(get("CPU implementer"), get("CPU part"));
    out.vendor = get("vendor_id");
    if (!out.vendor) out.vendor = arm.vendor;
    out.fallbackName = arm.fallbackName;

    if (auto name = get("model name")) out.name = name;
    else if (auto loong = get("Model Name")) out.name = loong;
    else if (arm.name) out.name = arm.name;
    else if (auto board = get("Hardware")) out.name = board;
    else if (auto mips = get("cpu model")) out.name = mips;
    else if (auto uarch = get("uarch")) out.name = riscvCoreName(*uarch, out.vendor);
    else if (auto isa = get("isa"); isa && startsWith(*isa, "rv")) {
        // The base ISA; the extensions after it run to a line of their own.
        out.name = "RISC-V " + isa->substr(0, isa->find('_'));
    } else if (auto line = get("processor 0"); line && s390MachineType(*line)) {
        out.name = s390Name(*s390MachineType(*line));
    } else if (auto family = get("family"); family && get("arch") == std::optional<std::string>("IA-64")) {
        // Older kernels name the family ("Itanium 2"), later ones number it.
        out.name = parseDecimal(*family) ? "IA-64 family " + *family : *family;
        if (get("vendor") == std::optional<std::string>("GenuineIntel") && !startsWith(*out.name, "IA-64"))
            out.name = "Intel " + *out.name;
    } else if (auto cpu = get("cpu")) {
        // Older POWER parts are named by number alone ("740/750").
        out.name = startsWithDigit(*cpu) && get("revision") ? "PowerPC " + *cpu : *cpu;
    }

    if (!out.vendor) out.vendor = get("vendor");  // IA-64
    if (!out.vendor) out.vendor = riscvVendor(get("mvendorid"));
    return out;
}

}  // namespace veltrix::linux_provider
