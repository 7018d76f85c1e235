// How loading a snapshot grows with its size: a registry map of N keys beside
// a class of N objects, for growing N. Both should grow linearly, and a key
// should cost about what an object costs (goal: 100,000 keys within 3 times
// the time of 100,000 objects).
//
// Usage: bench_snapshot_loading [largest N]   (default 100000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "providers/snapshot/snapshot_source.h"

using namespace veltrix;

namespace {

std::string registrySnapshot(int keys) {
    std::string json = "{\"veltrix-snapshot\": 1, \"registry\": {\n";
    for (int i = 0; i < keys; ++i) {
        const std::string n = std::to_string(i);
        json += std::string(i ? ",\n" : "") +
                "\"HKEY_LOCAL_MACHINE\\\\Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Program " +
                n + "\": {\"DisplayName\": \"Program " + n + "\", \"DisplayVersion\": \"1." + n + "\"}";
    }
    json += "}}";
    return json;
}

std::string objectSnapshot(int objects) {
    std::string json = "{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {\"Win32_PnPEntity\": [\n";
    for (int i = 0; i < objects; ++i) {
        const std::string n = std::to_string(i);
        json += std::string(i ? ",\n" : "") + "{\"Name\": \"Device " + n + "\", \"DeviceID\": \"PCI\\\\VEN_" + n +
                "\"}";
    }
    json += "]}}}";
    return json;
}

// Milliseconds to load, the fastest of a few rounds (the machine is shared:
// the fastest round is the one least disturbed), or a negative number when
// the snapshot was refused.
double loadMilliseconds(const std::string& json) {
    constexpr int kRounds = 5;
    double fastest = 0;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        auto source = snapshot::SnapshotSource::parse(json, "synthetic");
        const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (!source) {
            std::fprintf(stderr, "refused: %s\n", source.failure().description.c_str());
            return -1;
        }
        if (round == 0 || ms < fastest) fastest = ms;
    }
    return fastest;
}

}  // namespace

int main(int argc, char** argv) {
    const int largest = argc > 1 ? std::atoi(argv[1]) : 100000;
    if (largest < 10) {
        std::fprintf(stderr, "usage: bench_snapshot_loading [largest N >= 10]\n");
        return 2;
    }
    std::vector<int> sizes;
    for (int n : {largest / 10, largest * 3 / 10, largest}) sizes.push_back(n);

    std::printf("fastest of 5 loads each\n%10s %14s %14s %12s\n", "N", "registry keys", "class objects",
                "keys/objects");
    double firstKeys = 0, firstObjects = 0, lastKeys = 0, lastObjects = 0;
    for (int n : sizes) {
        const double keys = loadMilliseconds(registrySnapshot(n));
        const double objects = loadMilliseconds(objectSnapshot(n));
        if (keys < 0 || objects < 0) return 1;
        std::printf("%10d %11.1f ms %11.1f ms %11.2fx\n", n, keys, objects, keys / objects);
        if (n == sizes.front()) firstKeys = keys, firstObjects = objects;
        lastKeys = keys, lastObjects = objects;
    }
    std::printf("growth from N=%d to N=%d (linear: 10x): registry keys %.1fx, class objects %.1fx\n", sizes.front(),
                sizes.back(), lastKeys / firstKeys, lastObjects / firstObjects);
    std::printf("reference: registry keys within 3x of class objects at N=%d: %s (%.2fx)\n", sizes.back(),
                lastKeys <= 3 * lastObjects ? "yes" : "no", lastKeys / lastObjects);
    return 0;
}
