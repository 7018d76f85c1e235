#include "providers/linux/arm_cpu_names.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

namespace {
struct Implementer {
    std::uint32_t id;
    const char* name;
};
struct Part {
    std::uint32_t implementer, id;
    const char* name;
};

constexpr Implementer kImplementers[] = {
    {0x41, "ARM"},      {0x42, "Broadcom"}, {0x43, "Cavium"},    {0x44, "DEC"},       {0x46, "Fujitsu"},
    {0x48, "HiSilicon"}, {0x49, "Infineon"}, {0x4d, "Motorola"}, {0x4e, "NVIDIA"},    {0x50, "APM"},
    {0x51, "Qualcomm"}, {0x53, "Samsung"},  {0x56, "Marvell"},   {0x61, "Apple"},     {0x66, "Faraday"},
    {0x69, "Intel"},    {0x6d, "Microsoft"}, {0x70, "Phytium"},  {0xc0, "Ampere"},
};

constexpr Part kParts[] = {
    {0x41, 0xb76, "ARM1176"},        {0x41, 0xc07, "Cortex-A7"},       {0x41, 0xc08, "Cortex-A8"},
    {0x41, 0xc09, "Cortex-A9"},      {0x41, 0xc0d, "Cortex-A12"},      {0x41, 0xc0e, "Cortex-A17"},
    {0x41, 0xc0f, "Cortex-A15"},     {0x41, 0xd01, "Cortex-A32"},      {0x41, 0xd02, "Cortex-A34"},
    {0x41, 0xd03, "Cortex-A53"},     {0x41, 0xd04, "Cortex-A35"},      {0x41, 0xd05, "Cortex-A55"},
    {0x41, 0xd06, "Cortex-A65"},     {0x41, 0xd07, "Cortex-A57"},      {0x41, 0xd08, "Cortex-A72"},
    {0x41, 0xd09, "Cortex-A73"},     {0x41, 0xd0a, "Cortex-A75"},      {0x41, 0xd0b, "Cortex-A76"},
    {0x41, 0xd0c, "Neoverse-N1"},    {0x41, 0xd0d, "Cortex-A77"},      {0x41, 0xd0e, "Cortex-A76AE"},
    {0x41, 0xd40, "Neoverse-V1"},    {0x41, 0xd41, "Cortex-A78"},      {0x41, 0xd42, "Cortex-A78AE"},
    {0x41, 0xd44, "Cortex-X1"},      {0x41, 0xd46, "Cortex-A510"},     {0x41, 0xd47, "Cortex-A710"},
    {0x41, 0xd48, "Cortex-X2"},      {0x41, 0xd49, "Neoverse-N2"},     {0x41, 0xd4a, "Neoverse-E1"},
    {0x41, 0xd4b, "Cortex-A78C"},    {0x41, 0xd4d, "Cortex-A715"},     {0x41, 0xd4e, "Cortex-X3"},
    {0x41, 0xd4f, "Neoverse-V2"},    {0x41, 0xd80, "Cortex-A520"},     {0x41, 0xd81, "Cortex-A720"},
    {0x41, 0xd82, "Cortex-X4"},      {0x42, 0x516, "Vulcan"},          {0x43, 0x0a1, "ThunderX"},
    {0x43, 0x0a2, "ThunderX 81XX"},  {0x43, 0x0a3, "ThunderX 83XX"},   {0x43, 0x0af, "ThunderX2"},
    {0x46, 0x001, "A64FX"},          {0x48, 0xd01, "TaiShan v110"},    {0x4e, 0x003, "Denver 2"},
    {0x4e, 0x004, "Carmel"},         {0x50, 0x000, "X-Gene"},          {0x51, 0x800, "Kryo 2XX Gold"},
    {0x51, 0x801, "Kryo 2XX Silver"}, {0x51, 0x802, "Kryo 3XX Gold"},  {0x51, 0x803, "Kryo 3XX Silver"},
    {0x51, 0x804, "Kryo 4XX Gold"},  {0x51, 0x805, "Kryo 4XX Silver"}, {0x51, 0xc00, "Falkor"},
    {0x61, 0x022, "Icestorm"},       {0x61, 0x023, "Firestorm"},       {0x70, 0x662, "FTC662"},
    {0x70, 0x663, "FTC663"},         {0xc0, 0xac3, "Ampere-1"},        {0xc0, 0xac4, "Ampere-1a"},
};
}  // namespace

ArmProcessor armProcessor(const std::optional<std::string>& implementer, const std::optional<std::string>& part) {
    ArmProcessor out;
    // Read into plain numbers: GCC 12 warns falsely (-Wmaybe-uninitialized)
    // on optionals made by a conditional expression.
    if (!implementer) return out;
    const auto parsedImplementer = parseHex(*implementer);
    if (!parsedImplementer) return out;
    const std::uint64_t imp = *parsedImplementer;
    const bool hasPart = part && parseHex(*part);
    const std::uint64_t prt = hasPart ? *parseHex(*part) : 0;
    auto known = std::find_if(std::begin(kImplementers), std::end(kImplementers),
                              [&](const Implementer& i) { return i.id == imp; });
    if (known != std::end(kImplementers)) out.vendor = known->name;
    if (hasPart) {
        auto p = std::find_if(std::begin(kParts), std::end(kParts),
                              [&](const Part& x) { return x.implementer == imp && x.id == prt; });
        if (p != std::end(kParts)) out.name = (out.vendor ? *out.vendor + " " : std::string()) + p->name;
    }
    out.fallbackName = (out.vendor ? *out.vendor : "CPU implementer 0x" + toLower(hex(imp, 2))) +
                       (hasPart ? " part 0x" + toLower(hex(prt, 3)) : std::string());
    return out;
}

}  // namespace veltrix::linux_provider
