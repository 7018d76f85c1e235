// Times the signed-driver, network and multimedia sections over a synthetic
// snapshot with 2,000 signed drivers, 200 network adapters and 200
// multimedia devices. Every multimedia device and every adapter costs one
// unfiltered query over all signed drivers, and every network device in the
// PNP section one MAC query. Prints figures; never fails on timing.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/posix/posix_platform.h"
#include "providers/snapshot/snapshot_source.h"
#include "report/report_stream.h"
#include "sections/collectors.h"
#include "wmi/table_service.h"

using namespace veltrix;

namespace {

constexpr int kDrivers = 2000;
constexpr int kNetwork = 200;
constexpr int kMedia = 200;

class PrintedMessages final : public Messages {
public:
    void messageBox(std::string_view text, MessageStyle, std::string_view) override {
        std::fprintf(stderr, "message: %.*s\n", static_cast<int>(text.size()), text.data());
    }
};

std::string driverJson(int i, const std::string& deviceClass, const std::string& name, const std::string& location) {
    const std::string n = std::to_string(i);
    return "{\"DeviceName\": \"" + name + "\", \"Description\": \"" + name + "\", \"DriverVersion\": \"10.0." + n +
           ".1\", \"DeviceClass\": \"" + deviceClass + "\", \"Manufacturer\": \"Maker " + std::to_string(i % 13) +
           "\", \"Location\": \"" + location + "\", \"DeviceID\": \"PCI\\\\VEN_8086&DEV_" + n +
           "&SUBSYS_00000000&REV_01\\\\3&11583659&0&" + n + "\"}";
}

// Network and multimedia drivers spread evenly over the list, so the
// driver-version lookups walk half the list on average.
std::string syntheticSnapshot() {
    static const char* const kOther[] = {"USB", "HDC", "System", "HIDCLASS", "Biometricdevice", "DiskDrive"};
    std::string json = "{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {\"Win32_PnPSignedDriver\": [\n";
    int network = 0, media = 0;
    for (int i = 0; i < kDrivers; ++i) {
        if (i) json += ",\n";
        const std::string n = std::to_string(i);
        if (i % (kDrivers / kNetwork) == 0 && network < kNetwork) {
            json += driverJson(i, "NET", "Network Adapter " + std::to_string(network++), "PCI bus 0, device " + n);
        } else if (i % (kDrivers / kMedia) == 1 && media < kMedia) {
            json += driverJson(i, "MEDIA", "Sound Device " + std::to_string(media++), "HD Audio Bus");
        } else {
            json += driverJson(i, kOther[i % 6], "Device " + n, i % 3 == 0 ? "PCI bus 1, device " + n : "Port_#" + n);
        }
    }
    json += "],\n\"Win32_NetworkAdapter\": [\n";
    for (int i = 0; i < kNetwork; ++i) {
        const std::string n = std::to_string(i);
        json += std::string(i ? ",\n" : "") + "{\"Name\": \"Network Adapter " + n + "\", \"Description\": \"Network Adapter " +
                n + "\", \"NetConnectionID\": \"Ethernet " + n + "\", \"PNPDeviceID\": \"PCI\\\\VEN_8086&DEV_" + n +
                "&REV_01\\\\3&0\", \"MACAddress\": \"00:1B:21:00:" + std::to_string(10 + i / 100) + ":" +
                std::to_string(10 + i % 90) + "\"}";
    }
    json += "]}}}";
    return json;
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Processor time of this process: less disturbed than the wall clock when
// other work shares the machine.
double cpuMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

}  // namespace

int main() {
    const std::string json = syntheticSnapshot();
    auto source = snapshot::SnapshotSource::parse(json, "synthetic");
    if (!source) {
        std::fprintf(stderr, "%s\n", source.failure().description.c_str());
        return 1;
    }
    wmi::TableService service(**source);

    const auto folder = std::filesystem::temp_directory_path() / "veltrix-bench-drivers";
    std::filesystem::create_directories(folder);
    PrintedMessages messages;
    auto out = PosixPlatform(folder.string()).openReport((folder / "drivers.htm").string(), messages);
    if (!out) return 1;
    PendingError pending;
    EnglishLocale locale;
    PosixPlatform platform(folder.string());
    FixedCheckBoxes boxes(true, true);
    ScanContext scan{**out, service, pending, locale, platform, boxes, "drivers.htm", ""};

    std::printf("snapshot: %d signed drivers, %d network adapters, %d multimedia devices\n", kDrivers, kNetwork, kMedia);
    const std::pair<const char*, Collector> sections[] = {
        {"HID Devices", WriteHidSection},   {"MultiMedia", WriteMultiMediaSection},
        {"Security", WriteSecuritySection}, {"Networkdevices", WriteNetworkSection},
        {"PNP", WritePnpSection},
    };
    double total = 0, totalCpu = 0;
    std::printf("%-15s %10s %10s\n", "section", "wall", "processor");
    for (const auto& [name, collector] : sections) {
        auto start = std::chrono::steady_clock::now();
        double cpuStart = cpuMilliseconds();
        collector(scan);
        double ms = millisecondsSince(start);
        double cpu = cpuMilliseconds() - cpuStart;
        total += ms;
        totalCpu += cpu;
        std::printf("%-15s %7.1f ms %7.1f ms\n", name, ms, cpu);
    }
    (*out)->close();
    std::printf("%-15s %7.1f ms %7.1f ms (%ju bytes of report)\n", "all five", total, totalCpu,
                static_cast<std::uintmax_t>(std::filesystem::file_size(folder / "drivers.htm")));
    std::filesystem::remove_all(folder);
    return 0;
}
