// Disks and optical drives from /sys/block, and the mount table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "providers/linux/machine_data.h"

namespace veltrix::linux_provider {

struct BlockDisk {
    std::string name;              // "sda", "nvme0n1", "sr0"
    std::string dev;               // "8:0"
    std::vector<std::string> partitionDevs;  // "8:1", ...
    std::uint64_t sizeBytes = 0;
    bool removable = false;
    bool optical = false;
    bool usb = false;
    std::optional<std::string> vendor, model, firmware, serial;
};

// Whole disks and optical drives in name order; virtual devices (loop,
// ram, device-mapper, software RAID) are left out.
std::vector<BlockDisk> readBlockDisks(MachineData& m);

struct MountEntry {
    std::string dev;         // "8:17"
    std::string mountPoint;  // unescaped
    std::string fsType;
    std::string source;
};

std::vector<MountEntry> parseMountInfo(std::string_view text);

}  // namespace veltrix::linux_provider
