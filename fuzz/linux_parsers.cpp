// The Linux provider's readers of single files, each fed the input as the
// file it parses. The first byte picks the reader; the rest is the file.
#include <cstdint>
#include <fstream>
#include <string>
#include <string_view>

#include "providers/linux/apt_history.h"
#include "providers/linux/cpu_topology.h"
#include "providers/linux/dpkg_status.h"
#include "providers/linux/id_lists.h"
#include "providers/linux/machine_data.h"
#include "providers/linux/smbios_decoder.h"
#include "providers/linux/software_registry.h"
#include "providers/linux/text_util.h"
#include "support/scratch_folder.h"

namespace lp = veltrix::linux_provider;

namespace {

// The machine data of a tree that holds only `content` at `path`.
void withFile(const std::string& path, std::string_view content, void (*use)(lp::MachineData&)) {
    const auto& root = veltrix::fuzzing::freshScratchFolder();
    std::filesystem::create_directories((root / path).parent_path());
    std::ofstream(root / path, std::ios::binary) << content;
    lp::MachineData machine(root.string(), {});
    use(machine);
}

void packages(std::string_view text) {
    auto installed = lp::parseDpkgStatus(text);
    lp::nativeArchitecture(installed);
    auto registry = lp::buildSoftwareRegistry(installed);
    for (std::string_view key : {lp::kUninstallKey, lp::kForeignUninstallKey}) {
        auto programs = registry.subkeys(key);
        if (!programs) continue;
        for (const std::string& program : *programs) {
            std::string path = std::string(key) + "\\" + program;
            registry.value(path, "DisplayName");
            registry.value(path, "DisplayVersion");
        }
    }
}

void idLists(std::string_view text) {
    lp::IdsDatabase ids("");
    ids.parse(text);
    // Ids the list itself names are the likeliest to reach every branch.
    std::uint16_t probe = 0;
    for (std::size_t i = 0; i + 1 < text.size() && i < 64; i += 2) {
        probe = static_cast<std::uint16_t>(probe * 31 + (static_cast<unsigned char>(text[i]) << 8 | static_cast<unsigned char>(text[i + 1])));
        ids.vendor(probe);
        ids.device(probe, static_cast<std::uint16_t>(probe ^ 0x5A5A));
        ids.className(static_cast<std::uint8_t>(probe >> 8), static_cast<std::uint16_t>(probe & 0xFF));
    }
    for (std::uint16_t vendor : {0x8086, 0x10de, 0x1002, 0xffff, 0x0000}) {
        ids.vendor(vendor);
        ids.device(vendor, 0x1502);
    }
    ids.className(0x02);
    ids.className(0x03, 0x00);
    ids.className(0x0c, 0x03);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 7) {
        case 0: packages(text); break;
        case 1: lp::parseAptHistory(text); break;
        case 2: {
            auto inventory = lp::readSmbiosInventory(text);
            for (const auto& s : lp::decodeSmbiosTable(text))
                for (std::size_t offset = 0; offset < 0x30; ++offset) s.string(offset);
            (void)inventory;
            break;
        }
        case 3: idLists(text); break;
        case 4:
            withFile("run/udev/data/b8:0", text, [](lp::MachineData& m) { m.udev("b8:0"); });
            break;
        case 5:
            withFile("proc/cpuinfo", text, [](lp::MachineData& m) { lp::readCpuPackages(m); });
            break;
        case 6: lp::parseKeyValues(text); break;
    }
    return 0;
}
