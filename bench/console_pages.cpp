// The console's pages on a large fleet: a store of 10,000 machines of 10
// scans each, then one of 100,000 (of fewer scans each, see Settings), filled
// by direct inserts of the rows the store holds, on SQLite and (when
// VELTRIX_TEST_PG_URL names a server, as tests/store/with_postgres.sh sets
// it) on PostgreSQL. Prints the server's
// time for the fleet page (several sorts and a filter, first page), a
// machine page with its history, a program search and the dashboard, the
// two sizes side by side with the targets. Figures only; never fails on time.
// Usage: bench_console_pages [--machines N] [--big N] [--scans N] [--big-scans N] [--runs N]
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "fleet/console_users.h"
#include "server/console_request.h"
#include "server/console_routes.h"
#include "fresh_postgres.h"
#include "store/inventory_store.h"
#include "store/machine_summary.h"

namespace {

using namespace veltrix;
using Clock = std::chrono::steady_clock;

struct Settings {
    int machines = 10000;
    int big = 100000;
    int scans = 10;
    // 100,000 machines of 10 scans are 66 million rows: more than a few
    // minutes to fill on two cores. The large store keeps every machine but
    // fewer scans each; the pages read the newest scan of each machine, so
    // what grows their time is the number of machines.
    int bigScans = 2;
    int runs = 3;
};

const char* kSystems[] = {"Microsoft Windows 10 Pro", "Microsoft Windows 11 Pro", "Microsoft Windows 11 Enterprise",
                          "Debian GNU/Linux 12 (bookworm)", "Microsoft Windows Server 2022 Standard"};
const char* kMakers[] = {"Norvane", "Lenovo", "Dell Inc.", "HP"};

// The rows one scan holds: what the fleet, search and dashboard read and a
// report's usual neighbours, in report order.
void scanRows(int machine, int scan, std::vector<std::array<std::string, 4>>& out) {
    out.clear();
    auto row = [&](const char* section, int item, const char* label, std::string value) {
        out.push_back({section, std::to_string(item), label, std::move(value)});
    };
    char text[64];
    std::snprintf(text, sizeof text, "%02d-%s-2026 %02d:%02d", 1 + machine % 28, "December", machine / 60 % 24,
                  machine % 60);
    row("Veltrixproperties", 0, "Veltrix-Version", "4.2.2");
    row("Veltrixproperties", 0, "Veltrix generated", text);
    row("Systeminformation", 0, "Serial Number", "SN-" + std::to_string(machine));
    row("Systeminformation", 0, "Product", "Model " + std::to_string(machine % 30));
    row("Motherboard", 0, "Product", "Board " + std::to_string(machine % 7));
    row("Motherboard", 0, "Manufacturer (System)", kMakers[machine % 4]);
    const int cpus = 1 + machine % 2;
    for (int c = 0; c < cpus; ++c) {
        row("CPU", c, "Name", "Intel(R) Core(TM) i5-12500");
        row("CPU", c, "DeviceID", "CPU" + std::to_string(c));
    }
    const int modules = 1 + machine % 4;
    for (int m = 0; m < modules; ++m) {
        row("Memory", m, "BankLabel", "BANK " + std::to_string(m));
        row("Memory", m, "Capacity", std::to_string(4096 << (machine % 3)) + " MB");
    }
    const int sizes[] = {238, 477, 932, 1863};
    const int disks = 1 + machine % 2;
    for (int d = 0; d < disks; ++d) {
        row("HDD", d, "Name", "\\\\.\\PHYSICALDRIVE" + std::to_string(d));
        // One machine in ten had its disk replaced by its last scan.
        const bool replaced = machine % 10 == 0 && scan >= 8;
        row("HDD", d, "Model", replaced ? "Samsung SSD 990 PRO" : "ST1000DM010");
        row("HDD", d, "Size", std::to_string(sizes[(machine + d + (replaced ? 1 : 0)) % 4]) + " GB");
    }
    row("Operatingsystem", 0, "Name", kSystems[machine % 5]);
    row("Operatingsystem", 0, "Version", "10.0.19045");
    for (int a = 0; a < 2; ++a) {
        row("Network", a, "Description", "Intel(R) Ethernet Connection");
        std::snprintf(text, sizeof text, "8C:EC:4B:%02X:%02X:%02X", machine >> 16 & 255, machine >> 8 & 255, a);
        row("Network", a, "MAC-Address", text);
    }
}

// A scan's programs: a few dozen of a pool of 400, and 7-Zip on one machine
// in three, upgraded in the last scan.
void scanPrograms(int machine, int scan, int scans, std::vector<std::pair<std::string, std::string>>& out) {
    out.clear();
    for (int p = 0; p < 30; ++p) {
        const int program = (machine * 7 + p * 13) % 400;
        out.emplace_back("Program " + std::to_string(program), "1." + std::to_string(scan % 3));
    }
    if (machine % 3 == 0) {
        if (scan + 1 == scans) out.emplace_back("7-Zip 24.08 (x64)", "24.08");
        else out.emplace_back("7-Zip 23.01 (x64)", "23.01");
    }
}

bool fill(store::SqlConnection& connection, int machines, int scans) {
    // A page cache that holds the load's indexes, so that the fill is not
    // the benchmark's longest part; the pages are measured on a fresh
    // connection with the store's own settings.
    if (connection.engine() == store::Engine::Sqlite && !connection.execute("PRAGMA cache_size = -1048576").ok()) {
        return false;
    }
    if (!connection.beginWrite().ok()) return false;
    const int batch = 500;  // machines per round of inserts
    std::vector<std::array<std::string, 4>> rows;
    std::vector<std::pair<std::string, std::string>> programs;
    for (int first = 0; first < machines; first += batch) {
        const int last = std::min(machines, first + batch);
        std::vector<std::string> texts;
        texts.reserve(static_cast<std::size_t>(last - first) * (scans * 300 + 8));
        std::vector<std::vector<store::SqlParam>> machineRows, keyRows, scanRows_, rowRows, softwareRows;
        // Texts first, so that the views into them stay put.
        for (int m = first; m < last; ++m) {
            char name[32], uuid[48];
            std::snprintf(name, sizeof name, "WS-%06d", m);
            std::snprintf(uuid, sizeof uuid, "0FF1CE00-%04X-4000-8000-%012X", m & 0xFFFF, m);
            texts.push_back(name);
            texts.push_back(uuid);
            texts.push_back("SN-" + std::to_string(m));
            texts.push_back("ws" + std::to_string(m) + ".office.example");
            for (int s = 0; s < scans; ++s) {
                char when[32], generated[32];
                std::snprintf(when, sizeof when, "2026-%02d-%02d %02d:%02d:00", 12 - scans + 1 + s > 0 ? 12 - scans + 1 + s : 1,
                              1 + m % 28, m / 60 % 24, m % 60);
                std::snprintf(generated, sizeof generated, "%02d-December-2026 %02d:%02d", 1 + m % 28, m / 60 % 24, m % 60);
                texts.push_back(when);
                texts.push_back(generated);
                texts.push_back("digest-" + std::to_string(m) + "-" + std::to_string(s));
                texts.push_back("agent upload");
                scanRows(m, s, rows);
                for (auto& r : rows) {
                    for (auto& field : r) texts.push_back(std::move(field));
                }
                scanPrograms(m, s, scans, programs);
                for (auto& [p, v] : programs) {
                    texts.push_back(std::move(p));
                    texts.push_back(std::move(v));
                }
            }
        }
        std::size_t t = 0;
        auto next = [&]() { return std::string_view(texts[t++]); };
        for (int m = first; m < last; ++m) {
            const std::int64_t machineId = m + 1;
            auto name = next(), uuid = next(), serial = next(), host = next();
            machineRows.push_back({machineId, name, host, uuid, serial});
            keyRows.push_back({machineId, std::string_view("uuid"), uuid});
            keyRows.push_back({machineId, std::string_view("serial"), serial});
            keyRows.push_back({machineId, std::string_view("name"), name});
            for (int s = 0; s < scans; ++s) {
                const std::int64_t scanId = std::int64_t{m} * scans + s + 1;
                auto when = next(), generated = next(), digest = next(), source = next();
                scanRows_.push_back({scanId, machineId, generated, when, source, digest, std::string_view(""),
                                     std::string_view("4.2.2"), name, std::string_view(s ? "uuid" : "new"), when, host,
                                     uuid, serial, std::string_view("")});
                scanRows(m, s, rows);
                for (std::size_t position = 0; position < rows.size(); ++position) {
                    auto section = next(), item = next(), label = next(), value = next();
                    rowRows.push_back({scanId, static_cast<std::int64_t>(position), section,
                                       static_cast<std::int64_t>(std::stoi(std::string(item))), label, value});
                }
                scanPrograms(m, s, scans, programs);
                for (std::size_t p = 0; p < programs.size(); ++p) {
                    auto program = next(), version = next();
                    softwareRows.push_back({scanId, program, version});
                }
            }
        }
        bool ok = connection.insertRows("machines", {"id", "name", "host_name", "uuid", "serial"}, machineRows).ok() &&
                  connection.insertRows("machine_keys", {"machine_id", "kind", "value"}, keyRows).ok() &&
                  connection.insertRows("scans",
                                        {"id", "machine_id", "generated", "generated_at", "source", "digest", "comment",
                                         "version", "designation", "matched_by", "taken_at", "host_name", "uuid",
                                         "enclosure_serial", "macs"},
                                        scanRows_)
                      .ok() &&
                  connection.insertRows("\"rows\"", {"scan_id", "position", "section", "item", "label", "value"}, rowRows)
                      .ok() &&
                  connection.insertRows("software", {"scan_id", "name", "version"}, softwareRows).ok();
        if (!ok) {
            connection.execute("ROLLBACK");
            return false;
        }
    }
    // What the console reads per machine, made as an upgrade makes it.
    if (!store::RefreshAllMachineSummaries(connection).ok()) {
        connection.execute("ROLLBACK");
        return false;
    }
    bool ok = connection.execute("COMMIT").ok();
    // PostgreSQL's autovacuum analyses a table this size within a minute of
    // the load; the benchmark does not wait for it. SQLite is left as the
    // store leaves it.
    if (ok && connection.engine() == store::Engine::Postgres) ok = connection.execute("ANALYZE").ok();
    return ok;
}

struct Probe {
    const char* label;
    std::string target;
    double target_ms;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Milliseconds each probe took (the median of `runs`), or empty on a failure.
std::vector<double> measure(const std::string& storeTarget, int machines, int scans, int runs,
                            const std::vector<Probe>& probes) {
    auto opened = store::InventoryStore::open(storeTarget, store::OpenMode::CreateOrUpgrade);
    if (!opened) {
        std::fprintf(stderr, "cannot open %s: %s\n", store::displayTarget(storeTarget).c_str(),
                     opened.failure().description.c_str());
        return {};
    }
    auto& connection = (*opened)->connection();
    const auto start = Clock::now();
    if (!fill(connection, machines, scans)) {
        std::fprintf(stderr, "cannot fill a store of %d machines\n", machines);
        return {};
    }
    std::printf("  %d machines of %d scans filled in %.0f s\n", machines, scans,
                std::chrono::duration<double>(Clock::now() - start).count());
    std::fflush(stdout);
    if (!fleet::addUser(connection, "bench", fleet::Role::Viewer, "bench-password", "t")) return {};
    auto signedIn = fleet::signIn(connection, "bench", "bench-password", server::secondsNow(), {});
    if (!signedIn) return {};
    server::StorePool pool(storeTarget);
    auto routes = server::consoleRoutes(pool);
    std::vector<double> figures;
    for (const auto& probe : probes) {
        server::Request request;
        request.method = "GET";
        request.path = probe.target.substr(0, probe.target.find('?'));
        if (probe.target.find('?') != std::string::npos) request.query = probe.target.substr(probe.target.find('?') + 1);
        request.cookie = std::string(server::kSessionCookie) + "=" + signedIn->sessionToken;
        const server::Route* route = nullptr;
        for (const auto& r : routes) {
            const bool matches = r.prefix ? request.path.rfind(r.path, 0) == 0 : r.path == request.path;
            if (r.method == "GET" && matches) route = &r;
        }
        std::vector<double> times;
        for (int run = 0; run <= runs; ++run) {
            const auto began = Clock::now();
            server::Response response = route->handler(request);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - began).count();
            if (response.status != 200) {
                std::fprintf(stderr, "%s answered %u\n", probe.target.c_str(), response.status);
                return {};
            }
            if (run > 0) times.push_back(ms);  // the first run warms the caches
        }
        figures.push_back(median(times));
    }
    return figures;
}

bool engine(const std::string& label, const std::function<std::string(int)>& fresh, const Settings& settings) {
    // The machine page of one that had its disk replaced, in the middle of the fleet.
    const std::vector<Probe> probes{
        {"fleet page, by name", "/", 100},
        {"fleet page, by RAM, descending", "/?sort=ram&order=desc", 100},
        {"fleet page, by last seen", "/?sort=seen&order=desc", 100},
        {"fleet page, filtered", "/?q=model%2012", 100},  // one machine in 30
        {"fleet page, filtered by serial", "/?q=sn-4242", 100},
        {"fleet page, filtered, 2 letters", "/?q=hp", 100},  // one in 4, below the index's 3
        {"machine page with history", "/machines/" + std::to_string(settings.machines / 2 + 1), 100},
        {"program search", "/search?program=7-zip%2024", 100},
        {"dashboard", "/dashboard", 300},
    };
    std::printf("%s:\n", label.c_str());
    std::vector<std::vector<double>> results;
    for (bool big : {false, true}) {
        const int size = big ? settings.big : settings.machines;
        std::string target = fresh(size);
        if (target.empty()) {
            std::printf("  cannot make a store for %d machines\n", size);
            return false;
        }
        results.push_back(measure(target, size, big ? settings.bigScans : settings.scans, settings.runs, probes));
        if (results.back().empty()) return false;
    }
    std::printf("  %-32s %12s %12s %8s   %s\n", "server time (median)",
                (std::to_string(settings.machines) + "x" + std::to_string(settings.scans)).c_str(),
                (std::to_string(settings.big) + "x" + std::to_string(settings.bigScans)).c_str(), "ratio", "reference");
    for (std::size_t i = 0; i < probes.size(); ++i) {
        std::printf("  %-32s %9.2f ms %9.2f ms %7.1fx   under %.0f ms at %d; within 3x at %d\n", probes[i].label,
                    results[0][i], results[1][i], results[1][i] / results[0][i], probes[i].target_ms, settings.machines,
                    settings.big);
    }
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const int value = std::atoi(argv[i + 1]);
        if (option == "--machines") settings.machines = value;
        else if (option == "--big") settings.big = value;
        else if (option == "--scans") settings.scans = value;
        else if (option == "--big-scans") settings.bigScans = value;
        else if (option == "--runs") settings.runs = value;
    }
    if (settings.machines <= 0 || settings.big <= 0 || settings.scans <= 0 || settings.bigScans <= 0 ||
        settings.runs <= 0) {
        std::fprintf(stderr, "usage: bench_console_pages [--machines N] [--big N] [--scans N] [--big-scans N] [--runs N]\n");
        return 2;
    }
    const auto folder = std::filesystem::temp_directory_path() / ("veltrix-bench-pages-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    bool ok = engine("sqlite", [&](int size) { return (folder / ("fleet-" + std::to_string(size) + ".sqlite")).string(); },
                     settings);
    std::filesystem::remove_all(folder);
    if (const char* url = std::getenv("VELTRIX_TEST_PG_URL")) {
        ok = engine("postgresql", [&](int size) { return bench::freshPostgres(url, "veltrix_bench_pages_" + std::to_string(size)); },
                    settings) && ok;
        if (auto admin = store::openPostgres(url)) {
            for (int size : {settings.machines, settings.big}) {
                (*admin)->execute("DROP DATABASE IF EXISTS veltrix_bench_pages_" + std::to_string(size) + " WITH (FORCE)");
            }
        }
    } else {
        std::printf("postgresql: skipped, VELTRIX_TEST_PG_URL is not set (run under tests/store/with_postgres.sh)\n");
    }
    return ok ? 0 : 1;
}
