// Compares two reports of a machine with 1,000 programs and 200 devices (the
// later one with disks replaced, drivers and programs updated, devices in
// another order). Reference: under 50 ms for reading both pages and comparing.
// Prints figures; never fails on timing.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "synthetic_machine.h"
#include "data/load_input.h"
#include "data/report_compare.h"
#include "data/report_reader.h"

int main() {
    constexpr int kPrograms = 1000, kDevices = 200, kRounds = 20;
    const veltrix::DateTime when{2024, 3, 5, 14, 7, 0};
    auto before = veltrix::data::ScanSnapshotToPage(bench::syntheticMachine(kPrograms, kDevices, 0), "old.json", when);
    auto after = veltrix::data::ScanSnapshotToPage(bench::syntheticMachine(kPrograms, kDevices, 1), "new.json", when);
    if (!before || !after) return 1;
    std::printf("pages: %zu and %zu bytes, %d programs and %d devices each\n", before->size(), after->size(),
                kPrograms, kDevices);

    std::vector<double> parse, compare;
    std::string differing;
    for (int round = 0; round < kRounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        auto a = veltrix::data::ParseReport(*before);
        auto b = veltrix::data::ParseReport(*after);
        parse.push_back(bench::millisecondsSince(start));
        if (!a || !b) return 1;
        start = std::chrono::steady_clock::now();
        auto comparison = veltrix::data::CompareReports(*a, *b);
        compare.push_back(bench::millisecondsSince(start));
        differing.clear();
        for (const auto& section : comparison.sections) differing += " [" + section.title + "]";
    }
    std::sort(parse.begin(), parse.end());
    std::sort(compare.begin(), compare.end());
    std::printf("read both pages: median %.2f ms, worst %.2f ms (%d rounds)\n", parse[kRounds / 2], parse.back(),
                kRounds);
    std::printf("compare models:  median %.2f ms, worst %.2f ms; differing:%s\n", compare[kRounds / 2],
                compare.back(), differing.c_str());
    std::printf("read + compare:  median %.2f ms (reference: under 50 ms)\n", parse[kRounds / 2] + compare[kRounds / 2]);
    return 0;
}
