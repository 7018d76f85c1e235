// How fast a snapshot answers the signed-driver queries: the driver-version
// lookup walks every signed driver once per multimedia device, so a machine
// with many drivers sends the same unfiltered query hundreds of times.
#include <chrono>
#include <cstdio>
#include <string>

#include "providers/snapshot/snapshot_source.h"
#include "wmi/table_service.h"

using namespace veltrix;

namespace {

constexpr int kDrivers = 2000;
constexpr int kUnfilteredRuns = 200;
constexpr int kFilteredRuns = 50;

std::string syntheticSnapshot() {
    static const char* const kClasses[] = {"MEDIA", "USB", "HDC", "NET", "System", "HIDCLASS", "IMAGE"};
    std::string json = "{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {\"Win32_PnPSignedDriver\": [\n";
    for (int i = 0; i < kDrivers; ++i) {
        const std::string n = std::to_string(i);
        const char* deviceClass = kClasses[i % 7];
        json += std::string(i ? ",\n" : "") + "{\"DeviceName\": \"Device " + n + "\", \"Description\": \"Device " + n +
                "\", \"DriverVersion\": \"10.0." + n + ".1\", \"DeviceClass\": \"" + deviceClass +
                "\", \"Manufacturer\": \"Maker " + std::to_string(i % 13) + "\", \"Location\": \"" +
                (i % 3 == 0 ? "PCI bus 0, device " + n : "Port_#000" + n) + "\", \"DeviceID\": \"" +
                (i % 5 == 0 ? "ROOT\\\\NRV0\\\\" : "PCI\\\\VEN_8086&DEV_") + n + "\", \"Signed\": true}";
    }
    json += "]}}}";
    return json;
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Walks a query's result, reading two properties per object as the lookup does.
int walk(wmi::Connection& connection, const std::string& wql) {
    auto results = connection.execQuery(wql, "WQL", wmi::kQueryFlags);
    if (!results) {
        std::fprintf(stderr, "query failed: %s\n", results.failure().description.c_str());
        return -1;
    }
    int count = 0;
    for (;;) {
        auto next = (*results)->next();
        if (!next || !*next) break;
        auto version = (*next)->get("DriverVersion");
        auto description = (*next)->get("Description");
        if (version && description) ++count;
    }
    return count;
}

}  // namespace

int main() {
    const std::string json = syntheticSnapshot();
    auto start = std::chrono::steady_clock::now();
    auto source = snapshot::SnapshotSource::parse(json, "synthetic");
    const double parseMs = millisecondsSince(start);
    if (!source) {
        std::fprintf(stderr, "%s\n", source.failure().description.c_str());
        return 1;
    }
    std::printf("snapshot: %d Win32_PnPSignedDriver objects, %zu bytes, parsed in %.1f ms\n", kDrivers, json.size(),
                parseMs);

    wmi::TableService service(**source);
    auto connection = service.connect(wmi::kWmiMoniker);
    if (!connection) return 1;

    start = std::chrono::steady_clock::now();
    long objects = 0;
    for (int i = 0; i < kUnfilteredRuns; ++i) objects += walk(**connection, "SELECT * FROM Win32_PnPSignedDriver");
    double ms = millisecondsSince(start);
    std::printf("unfiltered: %d queries, %ld objects walked, %.1f ms total, %.3f ms per query, %.0f ns per object\n",
                kUnfilteredRuns, objects, ms, ms / kUnfilteredRuns, ms * 1e6 / static_cast<double>(objects));

    const std::pair<const char*, const char*> filtered[] = {
        {"PNP", "SELECT * FROM Win32_PnPSignedDriver WHERE (Location LIKE '%PCI%') OR DeviceClass='USB' OR "
                "DeviceClass='HDC' OR (DeviceID LIKE '%NRV0%')"},
        {"MultiMedia", "SELECT * FROM Win32_PnPSignedDriver WHERE (DeviceClass='MEDIA') OR DeviceClass='IMAGE'"},
        {"HID", "SELECT * FROM Win32_PnPSignedDriver WHERE DeviceClass='HIDCLASS'"},
    };
    for (const auto& [name, wql] : filtered) {
        start = std::chrono::steady_clock::now();
        int matched = 0;
        for (int i = 0; i < kFilteredRuns; ++i) matched = walk(**connection, wql);
        ms = millisecondsSince(start);
        std::printf("filtered %-10s: %d queries, %d of %d match, %.3f ms per query\n", name, kFilteredRuns, matched,
                    kDrivers, ms / kFilteredRuns);
    }
    return 0;
}
