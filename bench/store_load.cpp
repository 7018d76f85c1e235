// Loads 10,000 scans into the store, made from the real Windows snapshots in
// shared/realdata/windows with varied names and contents, first into SQLite,
// then into PostgreSQL when VELTRIX_TEST_PG_URL names a server
// (tests/store/with_postgres.sh starts one), and builds the overview of the
// 10,000 machines from each. Scans are made and loaded one at a time, so
// memory must stay flat: peak RSS is printed after 1,000 scans and at the end.
// Then 1,000 of the machines are scanned again, so that each new scan's
// changes since the one before are worked out and stored.
// Prints figures beside their references; never fails on timing.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "data/load_input.h"
#include "fresh_postgres.h"
#include "data/report_identity.h"
#include "store/content_digest.h"
#include "store/fleet_overview.h"
#include "store/inventory_store.h"

namespace {

using namespace veltrix;

constexpr int kScans = 10000;
constexpr int kBatch = 64;  // as `store add` commits
constexpr int kLaterScans = 1000;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double peakMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// Scan `index` of the fleet: a real machine's report under another name, with
// its own serials, memory, programs, updates and time.
data::Report variant(const data::Report& base, int index) {
    data::Report report = base;
    char name[64];
    std::snprintf(name, sizeof name, "WS-%s-%05d", base.name.c_str(), index);
    report.name = name;
    std::snprintf(name, sizeof name, "%02d-November-2026 %02d:%02d", 1 + index % 28, index % 24, index % 60);
    report.generated = name;
    for (auto& section : report.sections) {
        for (auto& item : section.items) {
            for (auto& row : item.rows) {
                if (row.label == "SerialNumber" || row.label == "Serial Number" || row.label == "Mac-Address") {
                    row.value += "-" + std::to_string(index);
                } else if (row.label == "Capacity") {
                    row.value = std::to_string(1024 << (index % 5)) + " MB";
                }
            }
        }
    }
    // The store knows a machine by what its report shows, as for a loaded file.
    report.machine = data::IdentityShownBy(report);
    for (int i = 0; i < 20 + index % 60; ++i) {
        report.software.push_back({"Program " + std::to_string((index + i * 7) % 400), std::to_string(i % 9) + ".0"});
    }
    for (int i = 0; i < index % 30; ++i) {
        report.hotfixes.push_back({"KB50" + std::to_string(10000 + (index + i) % 900), "Security Update"});
    }
    return report;
}

std::string contentText(const data::Report& report) {
    std::string text = report.name + '\n' + report.generated + '\n';
    for (const auto& section : report.sections) {
        text += section.title + '\n';
        for (const auto& item : section.items) {
            for (const auto& row : item.rows) text += row.label + '\t' + row.value + '\n';
        }
    }
    for (const auto& program : report.software) text += program.first + '\t' + program.second + '\n';
    for (const auto& hotfix : report.hotfixes) text += hotfix.first + '\t' + hotfix.second + '\n';
    return text;
}

bool load(const std::string& label, const std::string& target, const std::vector<data::Report>& bases,
          double reference) {
    auto opened = store::InventoryStore::open(target, store::OpenMode::CreateOrUpgrade);
    if (!opened) {
        std::fprintf(stderr, "%s\n", opened.failure().description.c_str());
        return false;
    }
    store::InventoryStore& inventory = **opened;
    auto start = std::chrono::steady_clock::now();
    std::size_t rows = 0;
    for (int index = 0; index < kScans; index += kBatch) {
        if (!inventory.beginBatch().ok()) return false;
        for (int i = index; i < std::min(kScans, index + kBatch); ++i) {
            data::Report report = variant(bases[static_cast<std::size_t>(i) % bases.size()], i);
            std::string digest = store::contentDigest(contentText(report));
            auto added = inventory.add(report, digest, "bench");
            if (!added) {
                std::fprintf(stderr, "%s\n", added.failure().description.c_str());
                return false;
            }
            for (const auto& section : report.sections) {
                for (const auto& item : section.items) rows += item.rows.size();
            }
        }
        if (!inventory.commitBatch().ok()) return false;
        if (index + kBatch >= 1000 && index < 1000) {
            std::printf("%s: peak memory after 1,000 scans: %.1f MiB\n", label.c_str(), peakMiB());
        }
    }
    double loaded = secondsSince(start);
    std::printf("%s: %d scans (%zu report rows) loaded in %.1f s (reference: under %.0f s); peak memory %.1f MiB\n",
                label.c_str(), kScans, rows, loaded, reference, peakMiB());

    start = std::chrono::steady_clock::now();
    auto lines = store::readOverview(inventory.connection());
    if (!lines) {
        std::fprintf(stderr, "%s\n", lines.failure().description.c_str());
        return false;
    }
    std::string page = store::overviewPage(*lines);
    std::printf("%s: overview of %zu machines built in %.2f s (reference: under 2 s), page %.1f MiB\n",
                label.c_str(), lines->size(), secondsSince(start), page.size() / 1048576.0);

    // A later scan of machines already stored: each is compared with the
    // scan before it and its changes are stored. The first scans, which
    // have nothing before them, are the reference.
    start = std::chrono::steady_clock::now();
    if (!inventory.beginBatch().ok()) return false;
    for (int i = 0; i < kLaterScans; ++i) {
        data::Report report = variant(bases[static_cast<std::size_t>(i) % bases.size()], i);
        char generated[40];
        std::snprintf(generated, sizeof generated, "%02d-December-2026 %02d:%02d", 1 + i % 28, i % 24, i % 60);
        report.generated = generated;
        report.software.front().second += ".1";
        report.software.push_back({"Added Program " + std::to_string(i), "1.0"});
        auto added = inventory.add(report, store::contentDigest(contentText(report)), "bench");
        if (!added) {
            std::fprintf(stderr, "%s\n", added.failure().description.c_str());
            return false;
        }
        if ((i + 1) % kBatch == 0 && (!inventory.commitBatch().ok() || !inventory.beginBatch().ok())) return false;
    }
    if (!inventory.commitBatch().ok()) return false;
    const double later = secondsSince(start);
    auto changes = store::queryValue(inventory.connection(), "SELECT COUNT(*) FROM scan_changes");
    std::printf("%s: %d later scans, each compared with its machine's scan before, in %.1f s: %.1f ms a scan "
                "(reference: a first scan, with nothing to compare, %.1f ms); %s changes stored\n",
                label.c_str(), kLaterScans, later, 1000 * later / kLaterScans, 1000 * loaded / kScans,
                changes && *changes ? (*changes)->c_str() : "?");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path realdata = argc > 1 ? argv[1] : VELTRIX_SOURCE_DIR "/../shared/realdata/windows";
    std::vector<data::Report> bases;
    std::error_code unreadable;
    for (const auto& entry : std::filesystem::directory_iterator(realdata, unreadable)) {
        if (entry.path().extension() != ".json") continue;
        auto report = data::LoadInput(entry.path().string());
        if (!report) {
            std::fprintf(stderr, "%s\n", report.failure().description.c_str());
            return 1;
        }
        bases.push_back(std::move(*report));
    }
    if (bases.empty()) {
        std::fprintf(stderr, "no snapshots in %s (pass the folder as the first argument)\n", realdata.c_str());
        return 1;
    }
    std::printf("%zu real snapshots from %s, scanned in memory as the bases of %d scans\n", bases.size(),
                realdata.c_str(), kScans);

    auto folder = std::filesystem::temp_directory_path() / "veltrix-bench-store";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    bool ok = load("sqlite", (folder / "inventory.sqlite").string(), bases, 60);
    std::filesystem::remove_all(folder);

    if (const char* url = std::getenv("VELTRIX_TEST_PG_URL")) {
        const std::string target = bench::freshPostgres(url, "veltrix_bench");
        if (target.empty()) {
            std::fprintf(stderr, "cannot make the benchmark database\n");
            return 1;
        }
        ok = load("postgresql", target, bases, 120) && ok;
        if (auto admin = store::openPostgres(url)) (*admin)->execute("DROP DATABASE IF EXISTS veltrix_bench WITH (FORCE)");
    } else {
        std::printf("postgresql: skipped, VELTRIX_TEST_PG_URL is not set (run under tests/store/with_postgres.sh)\n");
    }
    return ok ? 0 : 1;
}
