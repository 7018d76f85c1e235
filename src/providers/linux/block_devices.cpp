#include "providers/linux/block_devices.h"

#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

namespace {
bool isVirtual(const std::string& name) {
    for (const char* prefix : {"loop", "ram", "zram", "dm-", "md", "nbd", "fd", "mtdblock", "zd"})
        if (startsWith(name, prefix)) return true;
    // eMMC boot areas and replay-protected blocks are parts of one device.
    return startsWith(name, "mmcblk") && (name.find("boot") != std::string::npos ||
                                          name.find("rpmb") != std::string::npos);
}

// The mount table writes blanks, tabs, newlines and backslashes as "\ooo".
std::string unescapeMount(std::string_view text) {
    std::string out;
    auto octal = [&](std::size_t k) { return k < text.size() && text[k] >= '0' && text[k] <= '7'; };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
            out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 + (text[i + 3] - '0'));
            i += 3;
            continue;
        }
        out += text[i];
    }
    return out;
}

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t pos = 0;
    while (pos < line.size()) {
        std::size_t b = line.find_first_not_of(' ', pos);
        if (b == std::string_view::npos) break;
        std::size_t e = line.find(' ', b);
        if (e == std::string_view::npos) e = line.size();
        out.push_back(line.substr(b, e - b));
        pos = e;
    }
    return out;
}
}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    std::vector<MountEntry> out;
    for (std::string_view line : splitLines(text)) {
        auto w = words(line);
        // id parent dev root mountpoint options [optional...] - fstype source superoptions
        std::size_t dash = 0;
        for (std::size_t i = 6; i < w.size(); ++i)
            if (w[i] == "-") {
                dash = i;
                break;
            }
        if (dash == 0) continue;
        MountEntry e;
        e.dev = std::string(w[2]);
        e.mountPoint = unescapeMount(w[4]);
        e.fsType = dash + 1 < w.size() ? std::string(w[dash + 1]) : std::string();
        e.source = dash + 2 < w.size() ? unescapeMount(w[dash + 2]) : std::string();
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<BlockDisk> readBlockDisks(MachineData& m) {
    SystemTree& files = m.files;
    std::vector<BlockDisk> out;
    for (const std::string& name : files.list("/sys/block")) {
        if (isVirtual(name)) continue;
        const std::string base = "/sys/block/" + name;
        BlockDisk d;
        d.name = name;
        d.dev = files.attribute(base + "/dev").value_or("");
        d.sizeBytes = files.number(base + "/size").value_or(0) * 512;
        d.removable = files.number(base + "/removable") == std::optional<std::uint64_t>(1);
        d.optical = startsWith(name, "sr");
        auto real = files.resolve(base);
        d.usb = real && real->find("/usb") != std::string::npos;
        // Older kernels give a partition no "partition" file; every kernel
        // gives it a "start".
        for (const std::string& entry : files.list(base))
            if (startsWith(entry, name) &&
                (files.exists(base + "/" + entry + "/partition") || files.exists(base + "/" + entry + "/start")))
                if (auto dev = files.attribute(base + "/" + entry + "/dev")) d.partitionDevs.push_back(*dev);

        const auto& udev = m.udev("b" + d.dev);
        auto prop = [&](const char* key) -> std::optional<std::string> {
            auto it = udev.find(key);
            if (it == udev.end() || it->second.empty()) return std::nullopt;
            return it->second;
        };
        // SCSI-style disks name their maker in "vendor"; elsewhere that file
        // holds a numeric id.
        const bool scsi = startsWith(name, "sd") || startsWith(name, "sr");
        if (scsi) d.vendor = files.attribute(base + "/device/vendor");
        d.model = files.attribute(base + "/device/model");
        if (!d.model) d.model = files.attribute(base + "/device/name");  // MMC cards
        if (!d.model) {
            if (auto udevModel = prop("ID_MODEL")) {
                std::string s = *udevModel;
                for (char& c : s) if (c == '_') c = ' ';
                d.model = trim(s);
            }
        }
        d.firmware = files.attribute(base + "/device/rev");
        if (!d.firmware) d.firmware = files.attribute(base + "/device/firmware_rev");
        if (!d.firmware) d.firmware = files.attribute(base + "/device/fwrev");
        d.serial = prop("ID_SERIAL_SHORT");
        if (!d.serial) d.serial = files.attribute(base + "/device/serial");
        if (!d.serial) d.serial = files.attribute(base + "/serial");
        // Without a model of its own, a disk is named after its controller.
        if (!d.model && real)
            if (const PnpDevice* holder = m.deviceHolding(*real)) d.model = holder->name;
        out.push_back(std::move(d));
    }
    return out;
}

}  // namespace veltrix::linux_provider
