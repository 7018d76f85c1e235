// Exports 1,000 saved reports (a machine of 150 programs and 40 devices each)
// as one JSON array and as CSV, reading every file from disk as the export
// command does. Reference: under 2 s for the JSON export. Prints figures;
// never fails on timing.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "synthetic_machine.h"
#include "data/load_input.h"
#include "data/report_export.h"

int main() {
    constexpr int kReports = 1000;
    const auto folder = std::filesystem::temp_directory_path() / "veltrix-bench-export";
    std::filesystem::create_directories(folder);
    auto page = veltrix::data::ScanSnapshotToPage(bench::syntheticMachine(150, 40, 0), "pc.json", {2024, 3, 5, 14, 7, 0});
    if (!page) return 1;
    std::vector<std::string> files;
    for (int i = 0; i < kReports; ++i) {
        files.push_back((folder / ("pc-" + std::to_string(i) + ".htm")).string());
        std::ofstream(files.back(), std::ios::binary) << *page;
    }
    std::printf("%d reports of %zu bytes each\n", kReports, page->size());

    auto start = std::chrono::steady_clock::now();
    std::vector<veltrix::data::NamedReport> reports;
    reports.reserve(files.size());
    for (const std::string& file : files) {
        auto report = veltrix::data::LoadInput(file);
        if (!report) return 1;
        reports.push_back({file, std::move(*report)});
    }
    const double read = bench::millisecondsSince(start);
    auto json = std::chrono::steady_clock::now();
    std::string jsonText = veltrix::data::ExportJson(reports);
    const double jsonMs = bench::millisecondsSince(json);
    auto csv = std::chrono::steady_clock::now();
    std::string csvText = veltrix::data::ExportCsv(reports);
    const double csvMs = bench::millisecondsSince(csv);
    std::printf("read %d reports: %.0f ms\n", kReports, read);
    std::printf("JSON: %.0f ms for %zu bytes; read + JSON %.0f ms (reference: under 2000 ms)\n", jsonMs,
                jsonText.size(), read + jsonMs);
    std::printf("CSV:  %.0f ms for %zu bytes; read + CSV %.0f ms\n", csvMs, csvText.size(), read + csvMs);
    std::filesystem::remove_all(folder);
    return 0;
}
