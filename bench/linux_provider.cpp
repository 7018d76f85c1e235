// What reading this machine costs: every inventory class built from it, the
// whole batch scan as the command line runs it (all sections, installed
// software included), a plain read of exactly the files that scan read (the
// floor any reader of the same data pays), and `lshw -html` on the same
// machine in the same run as an outside reference.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/posix_locale.h"
#include "platform/posix/posix_platform.h"
#include "providers/linux/linux_source.h"
#include "ui/console/batch.h"
#include "wmi/table_service.h"

extern char** environ;

namespace {

using veltrix::linux_provider::LinuxSource;
using Clock = std::chrono::steady_clock;

const char* const kClasses[] = {
    "Win32_BIOS", "Win32_SystemEnclosure", "Win32_ComputerSystemProduct", "Win32_BaseBoard",
    "Win32_ComputerSystem", "Win32_Processor", "Win32_PhysicalMemory", "Win32_SystemSlot",
    "Win32_DiskDrive", "Win32_LogicalDisk", "Win32_CDROMDrive", "Win32_Keyboard",
    "Win32_PointingDevice", "Win32_POTSModem", "Win32_Battery", "Win32_NetworkAdapter",
    "Win32_VideoController", "Win32_PnPEntity", "Win32_PnPSignedDriver", "Win32_OperatingSystem",
    "Win32_QuickFixEngineering"};

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The source and the service over it, as the command line builds them; the
// bench keeps the holder to ask the source afterwards what it read.
struct LiveService {
    std::unique_ptr<LinuxSource> source = std::make_unique<LinuxSource>("/");
    veltrix::wmi::TableService service{*source};
};

struct BatchRun {
    double ms = 0;
    int exitCode = -1;
    std::shared_ptr<LiveService> live;
};

// One batch scan of this machine into `folder`, in-process.
BatchRun batchScan(const std::string& folder, std::FILE* sink) {
    BatchRun run;
    veltrix::BatchEnvironment environment;
    environment.liveService = [&run]() -> veltrix::Result<std::shared_ptr<veltrix::wmi::Service>> {
        run.live = std::make_shared<LiveService>();
        return std::shared_ptr<veltrix::wmi::Service>(run.live, &run.live->service);
    };
    environment.makePlatform = [](const std::string& out) -> std::unique_ptr<veltrix::Platform> {
        return std::make_unique<veltrix::PosixPlatform>(out);
    };
    environment.makeLocale = []() -> std::unique_ptr<veltrix::Locale> {
        return std::make_unique<veltrix::PosixLocale>();
    };
    std::vector<std::string> args{"veltrix", "--batch", "--name", "bench", "--output-dir", folder};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    auto start = Clock::now();
    run.exitCode = veltrix::runBatch(static_cast<int>(args.size()), argv.data(), environment, sink, sink);
    run.ms = msSince(start);
    return run;
}

// Reads every file whole and lists every directory, decoding nothing. Only
// regular files are read, as the provider does; returns the bytes read.
std::size_t plainRead(const LinuxSource::Inputs& inputs) {
    std::size_t bytes = 0;
    char chunk[65536];
    for (const std::string& path : inputs.files) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            std::string content;
            for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) content.append(chunk, static_cast<std::size_t>(n));
            bytes += content.size();
        }
        ::close(fd);
    }
    for (const std::string& path : inputs.directories) {
        if (DIR* dir = ::opendir(path.c_str())) {
            while (::readdir(dir) != nullptr) {
            }
            ::closedir(dir);
        }
    }
    return bytes;
}

// Wall time of `lshw -html > /dev/null`; nullopt when it cannot be run.
std::optional<double> lshwHtml() {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char program[] = "lshw";
    char option[] = "-html";
    char* argv[] = {program, option, nullptr};
    pid_t pid = 0;
    auto start = Clock::now();
    int failed = ::posix_spawnp(&pid, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return std::nullopt;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    double ms = msSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 127) return std::nullopt;
    return ms;
}

}  // namespace

int main() {
    const int rounds = 5;

    // Every class, straight from the source.
    std::vector<double> buildTimes;
    std::size_t objects = 0, programs = 0;
    for (int r = 0; r < rounds; ++r) {
        LinuxSource source("/");
        auto start = Clock::now();
        objects = 0;
        for (const char* c : kClasses)
            if (auto list = source.instances("root\\cimv2", c)) objects += (*list)->size();
        auto subkeys = source.registrySubkeys("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
        buildTimes.push_back(msSince(start));
        programs = subkeys ? subkeys->size() : 0;
    }

    // The whole batch scan, as the command line runs it.
    std::error_code ignored;
    const auto folder = std::filesystem::temp_directory_path() / ("veltrix_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder, ignored);
    std::FILE* sink = std::fopen("/dev/null", "w");
    std::vector<double> batchTimes;
    LinuxSource::Inputs inputs;
    std::size_t filesRead = 0;
    for (int r = 0; r < rounds; ++r) {
        BatchRun run = batchScan(folder.string(), sink ? sink : stderr);
        if (run.exitCode != 0) {
            std::printf("batch scan failed with exit code %d\n", run.exitCode);
            return 1;
        }
        batchTimes.push_back(run.ms);
        if (run.live) {
            inputs = run.live->source->inputsRead();
            filesRead = run.live->source->filesRead();
        }
    }
    const auto reportBytes = std::filesystem::file_size(folder / "bench.htm", ignored);
    std::filesystem::remove_all(folder, ignored);
    if (sink) std::fclose(sink);

    // A plain read of exactly what the scan read.
    std::vector<double> plainTimes;
    std::size_t bytes = 0;
    for (int r = 0; r < rounds; ++r) {
        auto start = Clock::now();
        bytes = plainRead(inputs);
        plainTimes.push_back(msSince(start));
    }

    // The outside reference, fewer rounds: it takes seconds.
    std::vector<double> lshwTimes;
    for (int r = 0; r < 3; ++r) {
        auto ms = lshwHtml();
        if (!ms) break;
        lshwTimes.push_back(*ms);
    }

    const double build = median(buildTimes), batch = median(batchTimes), plain = median(plainTimes);
    std::printf("medians of %d rounds\n", rounds);
    std::printf("build every class:            %8.2f ms  (%zu objects, %zu programs)\n", build, objects, programs);
    std::printf("batch scan, all sections:     %8.2f ms  (report %llu bytes)\n", batch,
                static_cast<unsigned long long>(reportBytes));
    std::printf("plain read of its input:      %8.2f ms  (%zu files tried, %zu directories, %zu bytes; %zu files "
                "counted by the source)\n",
                plain, inputs.files.size(), inputs.directories.size(), bytes, filesRead);
    std::printf("batch scan / plain read:      %8.2f x\n", batch / plain);
    if (lshwTimes.empty()) {
        std::printf("lshw -html: not available (install the lshw package), skipped\n");
    } else {
        const double lshw = median(lshwTimes);
        std::printf("lshw -html > /dev/null:       %8.2f ms  (median of %zu runs)\n", lshw, lshwTimes.size());
        std::printf("batch scan / lshw:            %8.3f x\n", batch / lshw);
    }
    return 0;
}
