// Whole scans of every snapshot twice: once with each query answered on its
// own by the source, once through the class cache with the slow classes
// fetched ahead on worker threads. Report, messages, exit code and the saved
// snapshot must not differ by a byte, and no class may be enumerated twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "app/scan_driver.h"
#include "core/ascii.h"
#include "providers/snapshot/snapshot_source.h"
#include "core/locale.h"
#include "support/fakes.h"
#include "support/file_text.h"
#include "support/fixed_clock_platform.h"
#include "support/temp_folder.h"
#include "ui/console/batch.h"
#include "wmi/class_cache.h"
#include "wmi/table_service.h"
#include "wmi/wql/query.h"

namespace veltrix {
namespace {

using test::readFile;

// Queries per class (lower case), from every thread, and registry connections.
struct QueryCounts {
    std::mutex mutex;
    std::map<std::string, int> byClass;
    int registryConnections = 0;
};

class CountingConnection final : public wmi::Connection {
public:
    CountingConnection(std::unique_ptr<wmi::Connection> inner, QueryCounts& counts)
        : inner_(std::move(inner)), counts_(counts) {}
    Result<std::unique_ptr<wmi::ResultSet>> execQuery(std::string_view wql, std::string_view language,
                                                      std::int32_t flags) override {
        if (auto query = wmi::wql::parse(wql)) {
            std::lock_guard lock(counts_.mutex);
            ++counts_.byClass[lowerAscii(query->className)];
        }
        return inner_->execQuery(wql, language, flags);
    }

private:
    std::unique_ptr<wmi::Connection> inner_;
    QueryCounts& counts_;
};

// A snapshot answering each query on its own, as live WMI does.
class SnapshotService final : public wmi::Service {
public:
    SnapshotService(const std::string& file, QueryCounts& counts) : counts_(counts) {
        auto loaded = snapshot::SnapshotSource::load(file);
        EXPECT_TRUE(loaded) << file << ": " << loaded.failure().description;
        if (loaded) source_ = std::move(*loaded);
        if (source_) table_ = std::make_unique<wmi::TableService>(*source_);
    }
    Result<std::unique_ptr<wmi::Connection>> connect(std::string_view moniker) override {
        auto connection = table_->connect(moniker);
        if (!connection) return connection.failure();
        return std::unique_ptr<wmi::Connection>(std::make_unique<CountingConnection>(std::move(*connection), counts_));
    }
    Result<std::unique_ptr<wmi::Registry>> connectRegistry(std::string_view moniker) override {
        {
            std::lock_guard lock(counts_.mutex);
            ++counts_.registryConnections;
        }
        return table_->connectRegistry(moniker);
    }
    bool loaded() const { return table_ != nullptr; }

private:
    QueryCounts& counts_;
    std::unique_ptr<snapshot::SnapshotSource> source_;
    std::unique_ptr<wmi::TableService> table_;
};

struct Scan {
    int exitCode = -1;
    std::string report;
    std::string messages;
    std::string savedSnapshot;
};

Scan scan(const std::function<Result<std::shared_ptr<wmi::Service>>()>& liveService) {
    test::TempFolder folder;
    BatchEnvironment environment;
    environment.liveService = liveService;
    environment.makePlatform = [&](const std::string& out) -> std::unique_ptr<Platform> {
        return std::make_unique<test::FixedClockPlatform>(out, (folder / "drive/").string(),
                                                          DateTime{2026, 12, 7, 9, 5, 30});
    };
    environment.makeLocale = []() -> std::unique_ptr<Locale> { return std::make_unique<EnglishLocale>(); };
    const std::string dir = folder.str();
    const std::string saved = (folder / "saved.json").string();
    std::vector<std::string> args = {"veltrix", "--batch",         "--name", "PC042", "--output-dir",
                                     dir,       "--save-snapshot", saved};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());

    Scan result;
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    result.exitCode = runBatch(static_cast<int>(argv.size()), argv.data(), environment, out, err);
    std::rewind(err);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, err)) > 0) result.messages.append(buffer, n);
    std::fclose(out);
    std::fclose(err);
    // The messages name the folder, which differs between the two scans.
    for (std::size_t at; (at = result.messages.find(dir)) != std::string::npos;) result.messages.replace(at, dir.size(), "DIR");
    result.report = readFile(folder / "PC042.htm");
    result.savedSnapshot = readFile(saved);
    return result;
}

std::vector<std::string> allSnapshots() {
    std::vector<std::string> files = {std::string(VELTRIX_EXAMPLES) + "/office-desktop.json"};
    for (const char* folder : {"", "/windows-real"}) {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(std::string(VELTRIX_TEST_DATA) + folder)) {
            if (entry.path().extension() == ".json") found.push_back(entry.path().string());
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    return files;
}

TEST(ClassCacheScan, EverySnapshotGivesTheSameBytesThroughTheCacheAsQueryByQuery) {
    const std::vector<std::string> files = allSnapshots();
    ASSERT_GE(files.size(), 12u);
    for (const std::string& file : files) {
        QueryCounts direct;
        Scan expected = scan([&]() -> Result<std::shared_ptr<wmi::Service>> {
            return std::shared_ptr<wmi::Service>(std::make_shared<SnapshotService>(file, direct));
        });

        QueryCounts cached;
        int workers = 0;
        Scan actual = scan([&]() -> Result<std::shared_ptr<wmi::Service>> {
            struct Holder {
                std::unique_ptr<SnapshotService> source;
                std::unique_ptr<wmi::ClassCacheService> cache;
            };
            auto holder = std::make_shared<Holder>();
            holder->source = std::make_unique<SnapshotService>(file, cached);
            wmi::ClassCacheOptions options;
            options.slowClasses = {"Win32_PnPSignedDriver", "Win32_PnPEntity", "Win32_QuickFixEngineering"};
            // Each worker reads a source of its own, as each live worker has its own connection.
            options.workerService = [&file, &cached, &workers]() -> Result<std::shared_ptr<wmi::Service>> {
                std::lock_guard lock(cached.mutex);
                ++workers;
                return std::shared_ptr<wmi::Service>(std::make_shared<SnapshotService>(file, cached));
            };
            holder->cache = std::make_unique<wmi::ClassCacheService>(*holder->source, std::move(options));
            return std::shared_ptr<wmi::Service>(holder, holder->cache.get());
        });

        const std::string name = std::filesystem::path(file).filename().string();
        EXPECT_EQ(actual.exitCode, expected.exitCode) << name;
        EXPECT_EQ(actual.messages, expected.messages) << name;
        EXPECT_TRUE(actual.report == expected.report) << name << ": the reports differ";
        EXPECT_TRUE(actual.savedSnapshot == expected.savedSnapshot) << name << ": the saved snapshots differ";
        EXPECT_GT(expected.report.size(), 1000u) << name;
        // The scan named its slow classes ahead, through the snapshot recorder.
        EXPECT_EQ(workers, 3) << name;
        for (const auto& [className, count] : cached.byClass) EXPECT_EQ(count, 1) << name << ": " << className;
        // Query by query the signed drivers are read again and again.
        if (name == "7.json") {
            EXPECT_GE(direct.byClass["win32_pnpsigneddriver"], 4);
        }
    }
}

// The table is what the cache fetches ahead from: a step that queries a class
// it does not list would wait for nothing, a class listed for nothing would
// be fetched for nothing.
TEST(ClassCacheScan, EachStepListsTheClassesItQueriesAndWhetherItReadsTheRegistry) {
    std::map<std::string, std::set<std::string>> queried;
    std::set<std::string> readRegistry;  // steps that connected to the registry
    for (const char* file : {"/windows-real/7.json", "/windows-real/10-net.json", "/desktop-devices.json"}) {
        QueryCounts counts;
        SnapshotService service(std::string(VELTRIX_TEST_DATA) + file, counts);
        for (const ScanStep& step : scanSteps()) {
            counts.byClass.clear();
            counts.registryConnections = 0;
            test::ScanFixture fixture(service);
            step.run(fixture.scan);
            for (const auto& entry : counts.byClass) queried[step.name].insert(entry.first);
            if (counts.registryConnections > 0) readRegistry.insert(step.name);
        }
    }
    for (const ScanStep& step : scanSteps()) {
        std::set<std::string> listed;
        for (const std::string& name : step.classes) listed.insert(lowerAscii(name));
        EXPECT_EQ(queried[step.name], listed) << step.name;
        EXPECT_EQ(readRegistry.count(step.name) == 1, step.readsRegistry) << step.name;
    }
    // The registry is started on only when a step that reads it will run.
    EXPECT_TRUE(registryToRead(FixedCheckBoxes(true, true)));
    EXPECT_TRUE(registryToRead(FixedCheckBoxes(false, true)));
    EXPECT_FALSE(registryToRead(FixedCheckBoxes(true, false)));
    // The updates are fetched only when their section will run.
    auto hotfix = [](bool ticked) {
        auto classes = classesToQuery(FixedCheckBoxes(ticked, true));
        return std::count(classes.begin(), classes.end(), "Win32_QuickFixEngineering");
    };
    EXPECT_EQ(hotfix(true), 1);
    EXPECT_EQ(hotfix(false), 0);
}

// A provider that hangs on one class, as a broken driver provider does on a
// real PC: its connections never answer until the test lets them go.
struct Hang {
    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    int gone = 0;  // hung services dropped
};

class HangingService final : public wmi::Service {
public:
    explicit HangingService(std::shared_ptr<Hang> hang) : hang_(std::move(hang)) {}
    ~HangingService() override {
        std::lock_guard lock(hang_->mutex);
        ++hang_->gone;
        hang_->released.notify_all();
    }
    Result<std::unique_ptr<wmi::Connection>> connect(std::string_view) override {
        std::unique_lock lock(hang_->mutex);
        hang_->released.wait(lock, [&] { return hang_->open; });
        return Failure{1, "released"};
    }
    Result<std::unique_ptr<wmi::Registry>> connectRegistry(std::string_view) override {
        return Failure{1, "released"};
    }

private:
    std::shared_ptr<Hang> hang_;
};

TEST(ClassCacheScan, AHungClassCostsItsDeadlineAndTheReportComesWithItsErrorRows) {
    const std::string file = std::string(VELTRIX_TEST_DATA) + "/windows-real/7.json";
    auto hang = std::make_shared<Hang>();
    test::TempFolder folder;
    QueryCounts counts;
    BatchEnvironment environment;
    environment.offersWmiTimeout = true;
    environment.liveService = [&]() -> Result<std::shared_ptr<wmi::Service>> {
        struct Holder {
            std::unique_ptr<SnapshotService> source;
            std::unique_ptr<wmi::ClassCacheService> cache;
        };
        auto holder = std::make_shared<Holder>();
        holder->source = std::make_unique<SnapshotService>(file, counts);
        wmi::ClassCacheOptions options;
        options.slowClasses = {"Win32_PnPSignedDriver"};
        options.classDeadline = environment.wmiTimeout;
        options.workerService = [hang]() -> Result<std::shared_ptr<wmi::Service>> {
            return std::shared_ptr<wmi::Service>(std::make_shared<HangingService>(hang));
        };
        holder->cache = std::make_unique<wmi::ClassCacheService>(*holder->source, std::move(options));
        return std::shared_ptr<wmi::Service>(holder, holder->cache.get());
    };
    environment.makePlatform = [&](const std::string& out) -> std::unique_ptr<Platform> {
        return std::make_unique<test::FixedClockPlatform>(out, (folder / "drive/").string(),
                                                          DateTime{2026, 12, 7, 9, 5, 30});
    };
    environment.makeLocale = []() -> std::unique_ptr<Locale> { return std::make_unique<EnglishLocale>(); };
    std::vector<std::string> args = {"veltrix", "--batch", "--name", "hung", "--output-dir", folder.str(),
                                     "--wmi-timeout", "1"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const auto start = std::chrono::steady_clock::now();
    const int code = runBatch(static_cast<int>(argv.size()), argv.data(), environment, out, err);
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    std::string messages;
    std::rewind(err);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, err)) > 0;) messages.append(buffer, n);
    std::fclose(out);
    std::fclose(err);

    EXPECT_EQ(environment.wmiTimeout, std::chrono::seconds(1));
    EXPECT_EQ(code, 0) << messages;
    const std::string report = readFile(folder / "hung.htm");
    EXPECT_TRUE(report.size() > 1000 && report.find("</body></html>") != std::string::npos);
    // Each section that reads the class says why in its Error row.
    const std::string row = "Win32_PnPSignedDriver: timed out after 1 s";
    std::size_t rows = 0;
    for (std::size_t at = report.find(row); at != std::string::npos; at = report.find(row, at + 1)) ++rows;
    EXPECT_GE(rows, 1u) << messages;
    EXPECT_NE(messages.find("sections with errors"), std::string::npos) << messages;
    // About the deadline: once, not once per section, and not for ever.
    EXPECT_GE(took, 1000);
    EXPECT_LT(took, 15000);
    // The other classes were read as usual, from the source itself.
    EXPECT_EQ(counts.byClass.count("win32_pnpsigneddriver"), 0u);
    EXPECT_GT(counts.byClass.size(), 5u);

    // The worker left behind ends when its provider lets it go.
    std::unique_lock lock(hang->mutex);
    hang->open = true;
    hang->released.notify_all();
    EXPECT_TRUE(hang->released.wait_for(lock, std::chrono::seconds(10), [&] { return hang->gone == 1; }));
}

}  // namespace
}  // namespace veltrix
