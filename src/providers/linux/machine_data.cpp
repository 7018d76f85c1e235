#include "providers/linux/machine_data.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

std::string findIdList(const SystemTree& files, const char* fileName) {
    for (const char* dir : {"/usr/share/misc/", "/usr/share/hwdata/"}) {
        // Where it is in the tree: Debian links usb.ids to /var/lib/usbutils.
        const std::string path = std::string(dir) + fileName;
        if (!files.exists(path)) continue;
        if (auto located = files.locate(path)) return *located;
    }
    return {};
}

namespace {
std::string idsPath(const SystemTree& files, const std::string& given, const char* fileName) {
    return given.empty() ? findIdList(files, fileName) : given;
}
}  // namespace

MachineData::MachineData(std::string root, const LinuxSourceOptions& options)
    : files(std::move(root)),
      mountsAreLive(options.mountsAreLive),
      pciIds(idsPath(files, options.pciIdsPath, "pci.ids")),
      usbIds(idsPath(files, options.usbIdsPath, "usb.ids")) {}

std::optional<std::string> MachineData::dmi(std::string_view name) {
    return files.attribute("/sys/class/dmi/id/" + std::string(name));
}

const SmbiosInventory* MachineData::smbios() {
    if (!smbios_) {
        const auto& table = files.read("/sys/firmware/dmi/tables/DMI");
        smbios_.emplace();
        if (table && !table->empty()) smbios_->emplace(readSmbiosInventory(*table));
        else if (std::string joined = tableFromEntries(); !joined.empty())
            smbios_->emplace(readSmbiosInventory(joined));
    }
    return *smbios_ ? &**smbios_ : nullptr;
}

std::string MachineData::tableFromEntries() {
    // Kernels before 4.2 have no whole table but one folder per structure
    // ("17-0": the first of type 17) whose "raw" holds it, strings included.
    // Put back in table order, they make the same table.
    const std::string dir = "/sys/firmware/dmi/entries";
    std::vector<std::pair<std::uint64_t, std::string>> structures;
    for (const std::string& entry : files.list(dir)) {
        const std::string base = dir + "/" + entry;
        const auto& raw = files.read(base + "/raw");
        if (!raw || raw->size() < 4 || static_cast<std::uint8_t>((*raw)[0]) == 127) continue;
        auto position = files.number(base + "/position");
        structures.emplace_back(position.value_or(structures.size()), *raw);
    }
    std::stable_sort(structures.begin(), structures.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string table;
    for (const auto& [position, raw] : structures) table += raw;
    return table;
}

const std::map<std::string, std::string>& MachineData::udev(const std::string& entry) {
    auto it = udev_.find(entry);
    if (it != udev_.end()) return it->second;
    std::map<std::string, std::string> props;
    if (const auto& text = files.read("/run/udev/data/" + entry)) {
        for (std::string_view line : splitLines(*text)) {
            if (!startsWith(line, "E:")) continue;
            std::size_t eq = line.find('=');
            if (eq == std::string_view::npos) continue;
            props[std::string(line.substr(2, eq - 2))] = std::string(line.substr(eq + 1));
        }
    }
    return udev_.emplace(entry, std::move(props)).first->second;
}

const std::vector<PnpDevice>& MachineData::devices() {
    if (!devices_) {
        devices_ = readPciDevices(files, pciIds);
        auto usb = readUsbDevices(files, usbIds);
        devices_->insert(devices_->end(), usb.begin(), usb.end());
        numberDuplicateNames(*devices_);
        // A USB adapter that carries a network interface is a network device,
        // whatever its class codes say.
        for (const std::string& ifname : files.list("/sys/class/net")) {
            auto path = files.resolve("/sys/class/net/" + ifname + "/device");
            if (!path) continue;
            for (auto& d : *devices_)
                if (d.bus == Bus::Usb && startsWith(*path, d.sysfsPath + "/")) d.deviceClass = "NET";
        }
    }
    return *devices_;
}

const PnpDevice* MachineData::deviceHolding(std::string_view sysfsPath) {
    const PnpDevice* best = nullptr;
    for (const auto& d : devices()) {
        if (d.sysfsPath.empty()) continue;
        bool holds = sysfsPath == d.sysfsPath ||
                     (startsWith(sysfsPath, d.sysfsPath) && sysfsPath.size() > d.sysfsPath.size() &&
                      sysfsPath[d.sysfsPath.size()] == '/');
        if (holds && (!best || d.sysfsPath.size() > best->sysfsPath.size())) best = &d;
    }
    return best;
}

std::optional<std::string> MachineData::driverVersion(const PnpDevice& device) {
    if (!device.driver) return std::nullopt;
    const std::string busName = device.bus == Bus::Pci ? "pci" : "usb";
    std::string module = files.linkName("/sys/bus/" + busName + "/drivers/" + *device.driver + "/module")
                             .value_or(*device.driver);
    if (auto v = files.attribute("/sys/module/" + module + "/version")) return v;
    return kernelRelease();
}

const std::vector<InstalledPackage>& MachineData::packages() {
    if (!packages_) packages_ = parseDpkgStatus(packageDatabase());
    return *packages_;
}

std::string_view MachineData::packageDatabase() {
    if (!statusTried_) {
        statusTried_ = true;
        // Mapped: the database is large and only a few fields of it are kept.
        // The package tools replace it by renaming a new file over it, so the
        // mapping never sees it change.
        status_ = files.map("/var/lib/dpkg/status");
    }
    return status_ ? status_->text() : std::string_view();
}

void MachineData::adoptPackages(std::vector<InstalledPackage> packages) {
    if (!packages_) packages_ = std::move(packages);
}

std::optional<std::string> MachineData::kernelRelease() {
    return files.attribute("/proc/sys/kernel/osrelease");
}

std::optional<std::string> MachineData::machineArchitecture() {
    if (auto arch = files.attribute("/proc/sys/kernel/arch")) return arch;
    static const std::array<std::pair<const char*, const char*>, 10> kFromPackages{{
        {"amd64", "x86_64"}, {"i386", "i686"}, {"arm64", "aarch64"}, {"armhf", "armv7l"}, {"armel", "armv5tel"},
        {"ppc64el", "ppc64le"}, {"s390x", "s390x"}, {"riscv64", "riscv64"}, {"mips64el", "mips64"},
        {"loong64", "loongarch64"}}};
    const std::string native = nativeArchitecture(packages());
    for (const auto& [deb, machine] : kFromPackages)
        if (native == deb) return std::string(machine);
    return std::nullopt;
}

bool MachineData::is64Bit() {
    auto arch = machineArchitecture();
    if (!arch) return false;
    return arch->find("64") != std::string::npos || *arch == "s390x";
}

std::optional<std::string> MachineData::kernelBuildDate() {
    auto version = files.attribute("/proc/sys/kernel/version");
    if (!version) return std::nullopt;
    // Distribution kernels: "... Debian 6.1.76-1 (2024-02-01)".
    std::size_t open = version->rfind('(');
    if (open != std::string::npos && open + 11 <= version->size()) {
        std::string d = version->substr(open + 1, 10);
        if (d.size() == 10 && d[4] == '-' && d[7] == '-' && parseDecimal(d.substr(0, 4)) &&
            parseDecimal(d.substr(5, 2)) && parseDecimal(d.substr(8, 2)))
            return d.substr(0, 4) + d.substr(5, 2) + d.substr(8, 2);
    }
    // Others end in a date command's text: "Thu Feb  1 12:00:00 UTC 2024".
    static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::vector<std::string> words;
    std::size_t pos = 0;
    while (pos < version->size()) {
        std::size_t b = version->find_first_not_of(' ', pos);
        if (b == std::string::npos) break;
        std::size_t e = version->find(' ', b);
        words.push_back(version->substr(b, e == std::string::npos ? std::string::npos : e - b));
        pos = e == std::string::npos ? version->size() : e;
    }
    if (words.size() >= 5) {
        auto year = parseDecimal(words.back());
        const std::string& month = words[words.size() - 5];
        auto day = parseDecimal(words[words.size() - 4]);
        for (int m = 0; m < 12 && year && day; ++m) {
            if (month == kMonths[m] && *year >= 1990 && *year <= 9999 && *day >= 1 && *day <= 31) {
                char buf[32];  // room for any unsigned, though the checks above keep it to eight
                std::snprintf(buf, sizeof buf, "%04u%02d%02u", static_cast<unsigned>(*year), m + 1,
                              static_cast<unsigned>(*day));
                return std::string(buf);
            }
        }
    }
    return std::nullopt;
}

std::optional<std::uint64_t> MachineData::memTotalBytes() {
    const auto& text = files.read("/proc/meminfo");
    if (!text) return std::nullopt;
    for (std::string_view line : splitLines(*text)) {
        if (!startsWith(line, "MemTotal:")) continue;
        std::string v = trim(line.substr(9));
        if (auto kb = parseDecimal(v.substr(0, v.find(' ')))) return *kb * 1024;
    }
    return std::nullopt;
}

}  // namespace veltrix::linux_provider
