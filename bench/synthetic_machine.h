// A made-up machine as a snapshot, sized as asked: programs in the registry
// and devices (disks, network adapters, signed drivers). `variant` changes a
// few of them, as a later scan of the same machine would.
#pragma once

#include <chrono>
#include <string>

#include <nlohmann/json.hpp>

namespace bench {

inline std::string syntheticMachine(int programs, int devices, int variant) {
    using json = nlohmann::ordered_json;
    json cim = json::object();
    cim["Win32_OperatingSystem"] = json::array({{{"Caption", "Microsoft Windows 10 Pro"},
                                                 {"BuildType", "Multiprocessor Free"},
                                                 {"CountryCode", "49"},
                                                 {"CSDVersion", nullptr},
                                                 {"Version", "10.0.19045"},
                                                 {"OSArchitecture", "64-bit"}}});
    json disks = json::array(), adapters = json::array(), drivers = json::array();
    const int tenth = devices / 10;
    for (int i = 0; i < tenth; ++i) {
        // Every fifth disk was replaced in the variant.
        std::string serial = "S" + std::to_string(i) + (variant && i % 5 == 0 ? "-new" : "");
        disks.push_back({{"Model", "Disk model " + std::to_string(i)}, {"Size", "500105249280"},
                         {"Firmwarerevision", "FW1"}, {"Partitions", 3}, {"SerialNumber", serial}, {"Status", "OK"}});
        char mac[32];
        std::snprintf(mac, sizeof mac, "8C:EC:4B:00:%02X:%02X", i / 256, i % 256);
        adapters.push_back({{"Name", "Adapter " + std::to_string(i)}, {"Description", "Adapter " + std::to_string(i)},
                            {"MACAddress", mac}, {"PNPDeviceID", "PCI\\VEN_8086&DEV_1A1C&REV_11\\" + std::to_string(i)}});
    }
    for (int i = 0; i < devices - 2 * tenth; ++i) {
        drivers.push_back({{"DeviceName", "Device " + std::to_string(i)},
                           {"DriverVersion", variant && i % 20 == 0 ? "2.0" : "1.0"},
                           {"DeviceID", "PCI\\VEN_1234&DEV_" + std::to_string(1000 + i) + "&REV_01\\4&1&0"},
                           {"DeviceClass", "SYSTEM"}, {"Description", "Device " + std::to_string(i)},
                           {"Manufacturer", "Maker"}, {"Location", "PCI bus 0"}});
    }
    if (variant) std::reverse(drivers.begin(), drivers.end());  // order alone is no difference
    cim["Win32_DiskDrive"] = disks;
    cim["Win32_NetworkAdapter"] = adapters;
    cim["Win32_PnPSignedDriver"] = drivers;
    json registry = json::object();
    for (int i = 0; i < programs; ++i) {
        std::string version = "1." + std::to_string(i % 7) + (variant && i % 100 == 0 ? ".1" : "");
        // A 64-bit system lists both the native and the 32-bit uninstall keys.
        const char* key = i % 2 ? "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                                : "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
        registry[key + ("Program" + std::to_string(i))] = {{"DisplayName", "Program number " + std::to_string(i)},
                                       {"DisplayVersion", version}};
    }
    json snapshot = {{"veltrix-snapshot", 1},
                     {"source", "benchmark"},
                     {"namespaces", {{"root\\cimv2", cim}}},
                     {"registry", registry}};
    return snapshot.dump();
}

inline double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace bench
