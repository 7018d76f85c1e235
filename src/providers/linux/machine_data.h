// What the class builders share during one scan: the file view, the id
// lists and the sources several classes read (firmware tables, udev
// properties, devices, packages), each loaded on first use.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "providers/linux/dpkg_status.h"
#include "providers/linux/id_lists.h"
#include "providers/linux/pnp_device.h"
#include "providers/linux/smbios_decoder.h"
#include "providers/linux/system_tree.h"

namespace veltrix::linux_provider {

struct LinuxSourceOptions {
    // Id lists; empty: looked for under the root in /usr/share/misc and
    // /usr/share/hwdata.
    std::string pciIdsPath;
    std::string usbIdsPath;
    // Whether the mount points are file systems of this machine, whose size
    // can be asked; not for a captured system, where asking would measure
    // this machine's disk that holds the capture.
    bool mountsAreLive = true;
};

// Path on this machine of an id list ("pci.ids") in the tree's
// /usr/share/misc or /usr/share/hwdata; empty when it holds neither.
std::string findIdList(const SystemTree& files, const char* fileName);

class MachineData {
public:
    MachineData(std::string root, const LinuxSourceOptions& options);

    SystemTree files;
    const bool mountsAreLive;
    IdsDatabase pciIds;
    IdsDatabase usbIds;

    // /sys/class/dmi/id/<name>, when present and readable.
    std::optional<std::string> dmi(std::string_view name);
    // The decoded firmware table, or nullptr when it cannot be read.
    const SmbiosInventory* smbios();
    // Properties ("E:" lines) of a udev database entry such as "b8:0" or
    // "+dmi:id"; empty without udev.
    const std::map<std::string, std::string>& udev(const std::string& entry);

    // PCI devices in address order, then USB devices.
    const std::vector<PnpDevice>& devices();
    // The device that holds a sysfs path (the longest matching device path).
    const PnpDevice* deviceHolding(std::string_view sysfsPath);
    // Module version of a bound driver, else the kernel release.
    std::optional<std::string> driverVersion(const PnpDevice& device);

    const std::vector<InstalledPackage>& packages();
    // The package database's text, mapped on first use and kept for the
    // life of this object; empty when there is none. Its packages may be
    // read elsewhere (another thread) and handed over with adoptPackages.
    std::string_view packageDatabase();
    // Packages read from packageDatabase(), unless packages() has read them meanwhile.
    void adoptPackages(std::vector<InstalledPackage> packages);
    std::optional<std::string> kernelRelease();
    // The machine name of the kernel ("x86_64"), else guessed from the
    // package architecture.
    std::optional<std::string> machineArchitecture();
    bool is64Bit();
    // The kernel's build date "yyyymmdd" when its version text carries one.
    std::optional<std::string> kernelBuildDate();
    std::optional<std::uint64_t> memTotalBytes();

private:
    // The firmware table put together from its per-structure entries.
    std::string tableFromEntries();

    std::optional<std::optional<SmbiosInventory>> smbios_;
    std::map<std::string, std::map<std::string, std::string>> udev_;
    std::optional<std::vector<PnpDevice>> devices_;
    // The package database, mapped for as long as its packages are read.
    std::optional<MappedFile> status_;
    bool statusTried_ = false;
    std::optional<std::vector<InstalledPackage>> packages_;
};

}  // namespace veltrix::linux_provider
