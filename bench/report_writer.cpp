// Writes reports from a synthetic snapshot with 10,000 BIOS objects and times
// the writer alone (10,000 rows to a file) and the whole section through the
// snapshot provider. Prints figures; never fails on timing.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/posix/posix_platform.h"
#include "providers/snapshot/snapshot_source.h"
#include "report/html_writer.h"
#include "sections/collectors.h"
#include "wmi/table_service.h"

namespace {

class SilentMessages final : public veltrix::Messages {
public:
    void messageBox(std::string_view text, veltrix::MessageStyle, std::string_view) override {
        std::fprintf(stderr, "message: %.*s\n", static_cast<int>(text.size()), text.data());
    }
};

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    constexpr int kObjects = 10000;
    const auto folder = std::filesystem::temp_directory_path() / "veltrix-bench-writer";
    std::filesystem::create_directories(folder);
    SilentMessages messages;

    // The writer alone.
    {
        auto out = veltrix::PosixPlatform(folder.string()).openReport((folder / "rows.htm").string(), messages);
        if (!out) return 1;
        auto start = std::chrono::steady_clock::now();
        veltrix::WriteTableHead("Rows", **out);
        for (int i = 0; i < kObjects; ++i) {
            veltrix::WriteRow("Label", "Value number " + std::to_string(i) + " \xC3\xBC&nbsp;", **out);
        }
        veltrix::WriteTableFoot(**out);
        (*out)->close();
        std::printf("writer: %d rows in %.2f ms\n", kObjects, millisecondsSince(start));
    }

    // A whole section from a snapshot.
    std::string json = R"({"veltrix-snapshot": 1, "source": "bench", "namespaces": {"root\\cimv2": {"Win32_BIOS": [)";
    for (int i = 0; i < kObjects; ++i) {
        if (i) json += ',';
        json += R"({"Manufacturer": "Maker )" + std::to_string(i) +
                R"(", "Description": "Firmware <1.58>", "SMBIOSBIOSVersion": "N1CET90W", "SerialNumber": null})";
    }
    json += "]}}}";
    auto start = std::chrono::steady_clock::now();
    auto source = veltrix::snapshot::SnapshotSource::parse(json, "bench.json");
    if (!source) {
        std::fprintf(stderr, "%s\n", source.failure().description.c_str());
        return 1;
    }
    double parsed = millisecondsSince(start);
    veltrix::wmi::TableService service(**source);
    auto out = veltrix::PosixPlatform(folder.string()).openReport((folder / "bios.htm").string(), messages);
    if (!out) return 1;
    veltrix::PendingError pending;
    veltrix::EnglishLocale locale;
    veltrix::PosixPlatform platform(folder.string());
    veltrix::FixedCheckBoxes boxes(true, true);
    veltrix::ScanContext scan{**out, service, pending, locale, platform, boxes, "bench.htm", ""};
    start = std::chrono::steady_clock::now();
    veltrix::WriteBiosSection(scan);
    (*out)->close();
    double section = millisecondsSince(start);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("snapshot: %d objects parsed in %.2f ms\n", kObjects, parsed);
    std::printf("section: %d objects, %d rows written in %.2f ms\n", kObjects, kObjects * 4, section);
    std::printf("peak memory: %.1f MiB\n", usage.ru_maxrss / 1024.0);
    std::filesystem::remove_all(folder);
    return 0;
}
