// Builds the "Installed Software" section for 100,000 uninstall subkeys from
// an in-memory registry and writes it to a file. Prints figures; never fails
// on timing.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/posix/posix_platform.h"
#include "sections/collectors.h"
#include "wmi/property_object.h"

namespace {

using namespace veltrix;

constexpr int kSubkeys = 100000;
constexpr std::string_view kNative = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class SilentMessages final : public Messages {
public:
    void messageBox(std::string_view text, MessageStyle, std::string_view) override {
        std::fprintf(stderr, "message: %.*s\n", static_cast<int>(text.size()), text.data());
    }
};

class OneObject final : public wmi::ResultSet {
public:
    explicit OneObject(wmi::ObjectPtr object) : object_(std::move(object)) {}
    Result<wmi::ObjectPtr> next() override { return std::exchange(object_, nullptr); }

private:
    wmi::ObjectPtr object_;
};

class OsConnection final : public wmi::Connection {
public:
    Result<std::unique_ptr<wmi::ResultSet>> execQuery(std::string_view, std::string_view, std::int32_t) override {
        auto os = std::make_shared<wmi::PropertyObject>(
            std::vector<std::pair<std::string, wmi::Value>>{{"OSArchitecture", wmi::Value::text("32-bit")}});
        return std::unique_ptr<wmi::ResultSet>(std::make_unique<OneObject>(os));
    }
};

// Uninstall entries as a real machine has them: most with name and version,
// some without a name, some named only quietly. Built before the clock runs;
// looked up without allocating, so that the figure is the section's own.
struct Entry {
    std::string displayName, displayVersion, quietDisplayName;
};
struct ByView {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
};
using EntryMap = std::unordered_map<std::string, Entry, ByView, std::equal_to<>>;

struct Entries {
    Entries() {
        entries.reserve(kSubkeys);
        for (int i = 0; i < kSubkeys; ++i) {
            // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "text" + std::to_string(...).
            std::string name = "{";
            name += std::to_string(100000000 + i);
            name += "-0000-1000-0000000FF1CE}";
            Entry& e = entries[std::string(kNative) + name];
            if (i % 10 != 0) e.displayName = "Program " + std::to_string(i) + " <x64> & tools";
            if (i % 7 != 0) e.displayVersion = std::to_string(i % 30) + ".0." + std::to_string(i);
            if (i % 7 == 0) e.quietDisplayName = "Quiet " + std::to_string(i);
            subkeys.push_back(std::move(name));
        }
    }
    std::vector<std::string> subkeys;
    EntryMap entries;
};

class BenchRegistry final : public wmi::Registry {
public:
    explicit BenchRegistry(const Entries& data) : data_(data) {}
    Result<std::vector<std::string>> enumKey(std::uint32_t, std::string_view path) override {
        if (path != kNative) return Failure{2, "missing key"};
        return data_.subkeys;
    }
    std::int32_t getStringValue(std::uint32_t, std::string_view path, std::string_view name,
                                wmi::Value& out) override {
        out = wmi::Value::null();
        auto key = data_.entries.find(path);
        if (key == data_.entries.end()) return 1;
        const std::string& text = name == "DisplayName"      ? key->second.displayName
                                  : name == "DisplayVersion" ? key->second.displayVersion
                                                             : key->second.quietDisplayName;
        if (text.empty()) return 1;
        out = wmi::Value::text(text);
        return 0;
    }

private:
    const Entries& data_;
};

class BenchService final : public wmi::Service {
public:
    explicit BenchService(const Entries& entries) : entries_(entries) {}
    Result<std::unique_ptr<wmi::Connection>> connect(std::string_view) override {
        return std::unique_ptr<wmi::Connection>(std::make_unique<OsConnection>());
    }
    Result<std::unique_ptr<wmi::Registry>> connectRegistry(std::string_view) override {
        return std::unique_ptr<wmi::Registry>(std::make_unique<BenchRegistry>(entries_));
    }

private:
    const Entries& entries_;
};

// Processor time of this process: on a shared, busy machine wall time
// mostly measures the other processes.
double cpuMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

double millisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
    const auto folder = std::filesystem::temp_directory_path() / "veltrix-bench-software";
    std::filesystem::create_directories(folder);
    SilentMessages messages;
    const Entries entries;
    BenchService service(entries);

    auto out = PosixPlatform(folder.string()).openReport((folder / "software.htm").string(), messages);
    if (!out) return 1;
    PendingError pending;
    EnglishLocale locale;
    PosixPlatform platform(folder.string());
    FixedCheckBoxes boxes(false, true);
    ScanContext scan{**out, service, pending, locale, platform, boxes, "bench.htm", ""};
    // The in-memory registry's own share: the reads the section makes, alone.
    auto start = std::chrono::steady_clock::now();
    double cpuStart = cpuMilliseconds();
    {
        BenchRegistry registry(entries);
        wmi::Value value;
        std::string path;
        auto names = registry.enumKey(wmi::kHkeyLocalMachine, kNative);
        for (const std::string& name : *names) {
            path.assign(kNative);
            path += name;
            registry.getStringValue(wmi::kHkeyLocalMachine, path, "DisplayName", value);
            if (registry.getStringValue(wmi::kHkeyLocalMachine, path, "DisplayVersion", value) != 0) {
                registry.getStringValue(wmi::kHkeyLocalMachine, path, "QuietDisplayName", value);
            }
        }
    }
    const double reads = millisecondsSince(start);
    const double readsCpu = cpuMilliseconds() - cpuStart;

    start = std::chrono::steady_clock::now();
    cpuStart = cpuMilliseconds();
    WriteSoftwareSection(scan);
    (*out)->close();
    const double total = millisecondsSince(start);
    const double totalCpu = cpuMilliseconds() - cpuStart;

    std::printf("software section: %d subkeys, %.1f MiB written in %.2f ms wall, %.2f ms processor time "
                "(target under 200 ms)\n",
                kSubkeys, std::filesystem::file_size(folder / "software.htm") / 1048576.0, total, totalCpu);
    std::printf("of which the in-memory registry's reads alone take about %.2f ms wall, %.2f ms processor time\n",
                reads, readsCpu);
    std::filesystem::remove_all(folder);
    return 0;
}
