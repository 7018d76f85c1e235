// Time to build every inventory class from this machine, against a plain
// read of the same files (the floor any provider pays for its input).
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "providers/linux/linux_source.h"
#include "providers/linux/sysfs_reader.h"

namespace {
const char* const kClasses[] = {
    "Win32_BIOS", "Win32_SystemEnclosure", "Win32_ComputerSystemProduct", "Win32_BaseBoard",
    "Win32_ComputerSystem", "Win32_Processor", "Win32_PhysicalMemory", "Win32_SystemSlot",
    "Win32_DiskDrive", "Win32_LogicalDisk", "Win32_CDROMDrive", "Win32_Keyboard",
    "Win32_PointingDevice", "Win32_POTSModem", "Win32_Battery", "Win32_NetworkAdapter",
    "Win32_VideoController", "Win32_PnPEntity", "Win32_PnPSignedDriver", "Win32_OperatingSystem",
    "Win32_QuickFixEngineering"};

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}
}  // namespace

int main(int argc, char** argv) {
    const std::string root = argc > 1 ? argv[1] : "/";
    const int rounds = 5;
    double buildMs = 0, cachedMs = 0;
    std::size_t objects = 0;
    std::vector<std::string> files;
    for (int r = 0; r < rounds; ++r) {
        veltrix::linux_provider::LinuxSource source(root);
        auto start = std::chrono::steady_clock::now();
        objects = 0;
        for (const char* c : kClasses)
            if (auto list = source.instances("root\\cimv2", c)) objects += (*list)->size();
        auto subkeys = source.registrySubkeys("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
        buildMs += msSince(start);
        start = std::chrono::steady_clock::now();
        for (const char* c : kClasses) (void)source.instances("root\\cimv2", c);
        cachedMs += msSince(start);
        if (r == 0) {
            std::printf("classes: %zu objects, %zu programs, %zu files read\n", objects,
                        subkeys ? subkeys->size() : 0, source.filesRead());
        }
    }
    // Plain read: the same kind of input, without decoding anything.
    double plainMs = 0;
    for (int r = 0; r < rounds; ++r) {
        veltrix::linux_provider::SysfsReader reader(root);
        auto start = std::chrono::steady_clock::now();
        for (const char* f : {"/proc/cpuinfo", "/proc/self/mountinfo", "/proc/bus/input/devices", "/proc/meminfo",
                              "/etc/os-release", "/var/lib/dpkg/status", "/var/log/apt/history.log",
                              "/usr/share/misc/pci.ids", "/usr/share/misc/usb.ids"})
            (void)reader.read(f);
        for (const char* dir : {"/sys/bus/pci/devices", "/sys/bus/usb/devices", "/sys/block", "/sys/class/net"})
            for (const std::string& e : reader.list(dir)) (void)reader.read(std::string(dir) + "/" + e + "/uevent");
        plainMs += msSince(start);
    }
    std::printf("build every class: %.2f ms\n", buildMs / rounds);
    std::printf("repeat queries (cached): %.4f ms\n", cachedMs / rounds);
    std::printf("plain read of the input files: %.2f ms\n", plainMs / rounds);
    return 0;
}
