// Physical disks, removable volumes and optical drives.
#include <sys/statvfs.h>

#include "providers/linux/block_devices.h"
#include "providers/linux/class_builders.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

using wmi::PropertyObject;
using wmi::Value;

namespace {
std::string idPart(const std::optional<std::string>& text) {
    std::string out = text ? *text : std::string();
    for (char& c : out)
        if (c == ' ' || c == '\\') c = '_';
    return out;
}

std::optional<std::string> mountPointOf(const std::vector<MountEntry>& mounts, const std::string& dev) {
    for (const auto& e : mounts)
        if (e.dev == dev) return e.mountPoint;
    return std::nullopt;
}

// File systems whose size queries may wait on a server or a user-space
// process; a removable volume is never one of them, but a stick mounted
// through FUSE is skipped rather than risk a hang.
bool mayBlock(const std::string& fsType) {
    for (const char* t : {"fuse", "nfs", "cifs", "smb", "sshfs", "9p", "ceph", "gluster", "afs", "davfs"})
        if (startsWith(fsType, t)) return true;
    return false;
}
}  // namespace

Objects buildDiskDrives(MachineData& m) {
    Objects out;
    int index = 0;
    for (const BlockDisk& d : readBlockDisks(m)) {
        if (d.optical) continue;
        PropertyObject o;
        const int n = index++;
        o.set("DeviceID", Value::text("\\\\.\\PHYSICALDRIVE" + std::to_string(n)));
        o.set("Index", Value::int32(n));
        o.set("Model", textOrNull(d.model));
        o.set("Caption", textOrNull(d.model));
        o.set("Manufacturer", textOrNull(d.vendor));
        o.set("Size", d.sizeBytes > 0 ? Value::text(std::to_string(d.sizeBytes)) : Value::null());
        o.set("FirmwareRevision", textOrNull(d.firmware));
        o.set("SerialNumber", textOrNull(d.serial));
        o.set("Partitions", Value::int32(static_cast<std::int32_t>(d.partitionDevs.size())));
        o.set("Status", Value::text("OK"));
        o.set("MediaType", Value::text(d.removable ? "Removable Media" : "Fixed hard disk media"));
        o.set("InterfaceType",
              Value::text(d.usb ? "USB" : startsWith(d.name, "nvme") ? "SCSI" : startsWith(d.name, "sd") ? "IDE"
                                                                                                        : "SCSI"));
        o.set("BytesPerSector", Value::int32(512));
        o.set("PNPDeviceID", Value::text(std::string(d.usb ? "USBSTOR" : "SCSI") + "\\DISK&VEN_" + idPart(d.vendor) +
                                         "&PROD_" + idPart(d.model) + "\\" + std::to_string(n)));
        out.push_back(share(std::move(o)));
    }
    return out;
}

Objects buildLogicalDisks(MachineData& m) {
    std::vector<MountEntry> mounts;
    if (const auto& text = m.files.read("/proc/self/mountinfo")) mounts = parseMountInfo(*text);
    Objects out;
    for (const BlockDisk& d : readBlockDisks(m)) {
        if (!d.removable || d.optical) continue;
        std::vector<std::string> devs = d.partitionDevs;
        devs.insert(devs.begin(), d.dev);
        bool listed = false;
        for (const std::string& dev : devs) {
            for (const MountEntry& e : mounts) {
                if (e.dev != dev || mayBlock(e.fsType)) continue;
                PropertyObject o;
                o.set("DeviceID", Value::text(e.mountPoint));
                o.set("Description", Value::text("Removable Disk"));
                o.set("DriveType", Value::int32(2));
                o.set("FileSystem", Value::text(e.fsType));
                const auto& udev = m.udev("b" + dev);
                auto label = udev.find("ID_FS_LABEL");
                o.set("VolumeName", label != udev.end() ? Value::text(label->second) : Value::null());
                struct statvfs st {};
                if (m.mountsAreLive && ::statvfs(m.files.hostPath(e.mountPoint).c_str(), &st) == 0) {
                    const auto unit = static_cast<std::uint64_t>(st.f_frsize ? st.f_frsize : st.f_bsize);
                    o.set("Size", Value::text(std::to_string(static_cast<std::uint64_t>(st.f_blocks) * unit)));
                    o.set("FreeSpace", Value::text(std::to_string(static_cast<std::uint64_t>(st.f_bavail) * unit)));
                } else {
                    o.set("Size", Value::null());
                    o.set("FreeSpace", Value::null());
                }
                out.push_back(share(std::move(o)));
                listed = true;
                break;  // a volume mounted twice is still one drive
            }
        }
        if (listed) continue;
        // No mounted volume: an empty card reader, or a medium not mounted.
        PropertyObject o;
        o.set("DeviceID", Value::text("/dev/" + d.name));
        o.set("Description", Value::text("Removable Disk"));
        o.set("DriveType", Value::int32(2));
        o.set("FileSystem", Value::null());
        o.set("VolumeName", Value::null());
        o.set("Size", d.sizeBytes > 0 ? Value::text(std::to_string(d.sizeBytes)) : Value::null());
        o.set("FreeSpace", Value::null());
        out.push_back(share(std::move(o)));
    }
    return out;
}

Objects buildCdromDrives(MachineData& m) {
    std::vector<MountEntry> mounts;
    if (const auto& text = m.files.read("/proc/self/mountinfo")) mounts = parseMountInfo(*text);
    Objects out;
    for (const BlockDisk& d : readBlockDisks(m)) {
        if (!d.optical) continue;
        std::string caption = trim((d.vendor.value_or("") + " " + d.model.value_or("")));
        const std::string drive = mountPointOf(mounts, d.dev).value_or("/dev/" + d.name);
        PropertyObject o;
        o.set("Caption", caption.empty() ? Value::null() : Value::text(caption));
        o.set("Name", caption.empty() ? Value::null() : Value::text(caption));
        o.set("Manufacturer", textOrNull(d.vendor));
        o.set("Id", Value::text(drive));
        o.set("Drive", Value::text(drive));
        o.set("DeviceID", Value::text("SCSI\\CDROM&VEN_" + idPart(d.vendor) + "&PROD_" + idPart(d.model) + "\\" +
                                      d.name));
        o.set("MfrAssignedRevisionLevel", textOrNull(d.firmware));
        o.set("MediaLoaded", Value::boolean(d.sizeBytes > 0));
        o.set("Status", Value::text("OK"));
        out.push_back(share(std::move(o)));
    }
    return out;
}

}  // namespace veltrix::linux_provider
