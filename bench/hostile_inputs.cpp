// What a crafted input costs per megabyte, at 1 MB and at 4 MB: a step that
// is linear in its input costs the same per megabyte at both sizes, one that
// grows with the square costs four times as much at 4 MB. Each input is
// loaded in a child process of its own, so that its peak memory is its own.
//
//   ampersands      a report whose one cell is nothing but '&'
//   error rows      a report whose one section has an "Error" row per 100 bytes
//   mac lookups     a snapshot of network devices, each with an adapter to name
//   driver lookups  a snapshot of media devices, each looked up by description
//   empty objects   a snapshot of nothing but empty processor objects
//
// A load that reuses heap its parent left free grows the resident set less
// than it allocates, which shows most at the small size.
//
// Usage: bench_hostile_inputs [small MB (1)] [large MB (4)]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "data/load_input.h"

using namespace veltrix;

namespace {

constexpr std::size_t kMegabyte = 1024 * 1024;
// What one load may take before it is given up and shown as "timed out".
constexpr unsigned kChildSeconds = 120;

std::string reportPage(const std::string& sectionRows) {
    return "<html><head><title>bench.htm</title></head><body>\r\n"
           "<table><tr><td>VELTRIX Result</td></tr></table>\r\n"
           "<table><tr><td bgcolor='#000000'>Bios</td></tr>\r\n" +
           sectionRows + "</table><br>\r\n</body></html>\r\n";
}

std::string ampersandReport(std::size_t bytes) {
    return reportPage("<tr><td>Name</td><td>" + std::string(bytes, '&') + "</td></tr>\r\n");
}

std::string errorRowReport(std::size_t bytes) {
    std::string rows;
    rows.reserve(bytes + 128);
    for (std::size_t n = 0; rows.size() < bytes; ++n) {
        rows += "<tr><td>Error</td><td>Generic failure number " + std::to_string(n) +
                " of the provider&nbsp;</td></tr>\r\n";
    }
    return reportPage(rows);
}

std::string snapshot(const std::string& classes) {
    return "{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {" + classes + "}}}";
}

std::string macLookupSnapshot(std::size_t bytes) {
    std::string drivers, adapters;
    for (std::size_t n = 0; drivers.size() + adapters.size() < bytes; ++n) {
        const std::string name = "Ethernet adapter " + std::to_string(n);
        drivers += std::string(n ? ",\n" : "") + "{\"DeviceName\": \"" + name +
                   "\", \"DeviceClass\": \"NET\", \"Location\": \"PCI bus 2, device 0\", \"DeviceID\": "
                   "\"PCI\\\\VEN_8086&DEV_" + std::to_string(n) + "\"}";
        adapters += std::string(n ? ",\n" : "") + "{\"Name\": \"" + name +
                    "\", \"MACAddress\": \"00:1B:21:00:00:01\"}";
    }
    return snapshot("\"Win32_PnPSignedDriver\": [" + drivers + "], \"Win32_NetworkAdapter\": [" + adapters + "]");
}

std::string driverLookupSnapshot(std::size_t bytes) {
    std::string drivers;
    for (std::size_t n = 0; drivers.size() < bytes; ++n) {
        drivers += std::string(n ? ",\n" : "") + "{\"Description\": \"Audio device " + std::to_string(n) +
                   "\", \"DeviceClass\": \"MEDIA\", \"Manufacturer\": \"Maker\", \"DriverVersion\": \"6.0.1\"}";
    }
    return snapshot("\"Win32_PnPSignedDriver\": [" + drivers + "]");
}

std::string emptyObjectSnapshot(std::size_t bytes) {
    std::string objects;
    objects.reserve(bytes + 8);
    while (objects.size() < bytes) objects += objects.empty() ? "{}" : ",{}";
    return snapshot("\"Win32_Processor\": [" + objects + "]");
}

// A figure of /proc/self/status, in kilobytes.
long statusKb(const char* field) {
    long kb = 0;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        const std::size_t length = std::strlen(field);
        while (std::fgets(line, sizeof line, status)) {
            if (std::strncmp(line, field, length) == 0) kb = std::atol(line + length);
        }
        std::fclose(status);
    }
    return kb;
}

struct Measure {
    double seconds = 0;
    double peakMegabytes = 0;
    bool loaded = false;
    bool timedOut = false;
};

// Loads the input in a child and reports its time, its peak memory and
// whether it loaded; the child's memory before the load is taken off.
Measure measure(const std::string& input) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) std::exit(2);
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        alarm(kChildSeconds);  // a step that grows with the square could run for hours
        // The peak is counted from here: the child starts with its parent's pages.
        if (FILE* clear = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", clear);
            std::fclose(clear);
        }
        const long startKb = statusKb("VmRSS:");
        const auto start = std::chrono::steady_clock::now();
        auto report = data::LoadInputBytes(input, "bench.json", {2026, 1, 1, 12, 0, 0}, EnglishLocale());
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const long peakKb = statusKb("VmHWM:");
        char line[128];
        const int n = std::snprintf(line, sizeof line, "%.6f %d %ld", seconds, report ? 1 : 0, peakKb - startKb);
        if (write(pipeEnds[1], line, static_cast<std::size_t>(n)) != n) _exit(3);
        _exit(0);
    }
    close(pipeEnds[1]);
    char line[128] = {};
    const ssize_t got = read(pipeEnds[0], line, sizeof line - 1);
    close(pipeEnds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    Measure m;
    m.timedOut = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
    int loaded = 0;
    long growthKb = 0;
    if (got > 0 && std::sscanf(line, "%lf %d %ld", &m.seconds, &loaded, &growthKb) == 3) m.loaded = loaded != 0;
    m.peakMegabytes = static_cast<double>(growthKb) / 1024.0;
    return m;
}

}  // namespace

int main(int argc, char** argv) {
    const double smallMb = argc > 1 ? std::atof(argv[1]) : 1.0;
    const double largeMb = argc > 2 ? std::atof(argv[2]) : 4.0;
    struct Kind {
        const char* name;
        std::function<std::string(std::size_t)> make;
    };
    const std::vector<Kind> kinds = {
        {"ampersands", ampersandReport},       {"error rows", errorRowReport},
        {"mac lookups", macLookupSnapshot},    {"driver lookups", driverLookupSnapshot},
        {"empty objects", emptyObjectSnapshot},
    };
    std::printf("cost per MB of input at %.0f MB and at %.0f MB (reference: a linear step keeps the ratio near 1,\n"
                "a quadratic one gives about %.0f); memory is the peak growth of the\n"
                "resident set during the load, in MB per MB of input\n\n",
                smallMb, largeMb, largeMb / smallMb);
    std::printf("%-15s %12s %12s %7s %14s %14s  %s\n", "kind", "s/MB small", "s/MB large", "ratio", "MB/MB small",
                "MB/MB large", "outcome (small, large)");
    std::fflush(stdout);
    for (const Kind& kind : kinds) {
        const std::string small = kind.make(static_cast<std::size_t>(smallMb * kMegabyte));
        const std::string large = kind.make(static_cast<std::size_t>(largeMb * kMegabyte));
        const double smallSize = static_cast<double>(small.size()) / kMegabyte;
        const double largeSize = static_cast<double>(large.size()) / kMegabyte;
        const Measure a = measure(small);
        const Measure b = a.timedOut ? Measure{0, 0, false, true} : measure(large);
        auto seconds = [](const Measure& m, double size) {
            char text[32];
            if (m.timedOut) {
                std::snprintf(text, sizeof text, ">%.1f", kChildSeconds / size);
            } else {
                std::snprintf(text, sizeof text, "%.4f", m.seconds / size);
            }
            return std::string(text);
        };
        auto outcome = [](const Measure& m) { return m.timedOut ? "timed out" : m.loaded ? "loaded" : "refused"; };
        const double perSmall = a.seconds / smallSize, perLarge = b.seconds / largeSize;
        char ratio[32] = "-";
        if (!a.timedOut && !b.timedOut && perSmall > 0) std::snprintf(ratio, sizeof ratio, "%.2f", perLarge / perSmall);
        std::printf("%-15s %12s %12s %7s %14.1f %14.1f  %s, %s\n", kind.name, seconds(a, smallSize).c_str(),
                    seconds(b, largeSize).c_str(), ratio, a.peakMegabytes / smallSize, b.peakMegabytes / largeSize,
                    outcome(a), outcome(b));
        std::fflush(stdout);
    }
    return 0;
}
