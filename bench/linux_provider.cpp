// What reading this machine costs: every inventory class built from it, the
// whole batch scan as the command line runs it (all sections, installed
// software included), a plain read of exactly the files that scan read (the
// floor any reader of the same data pays), and the shipped program doing the
// same scan as a process of its own, start-up and library loading included,
// which is what a user or a script waits for. The outside reference for that
// last figure is `lshw -html`, as measured earlier on this machine; it is
// quoted, not run here.
//
// The scan indexes the id lists and reads the package database on threads
// of their own while it reads the rest, as the command line's scan does; its
// processor time is that of all its threads, so the two figures side by
// side show what the second thread saves in waiting and what it costs.
//
// The scan's figure includes committing its report (flushed to the disk and
// moved over the old one), which is also shown apart: it is the output
// disk's wait, and on a shared disk it varies most. The plain read is shown
// for the files and folders the scan read, as always, and with the links it
// asked about (device paths, driver bindings) read too.
//
// Usage: bench_linux_provider [PROGRAM]   (default: the veltrix of this build)
//        bench_linux_provider --scans N   (only N in-process batch scans, to run under a profiler)
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

// This process's processor time: the machine may be shared, so wall time
// alone says little about the work done.
double cpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Timing {
    std::vector<double> wall, cpu;
};

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
    double cpu = 0;
    double commitMs = 0;     // of `ms`: the finished report flushed to the disk and moved over the old one
    double commitCpuMs = 0;  // of `cpu`: the same
    int exitCode = -1;
    std::shared_ptr<LiveService> live;
};

// The report file as the command line writes it, its commit timed: the wait
// for the disk is the output folder's, not the scan's, and a shared disk
// makes it vary most.
class TimedCommitFile final : public veltrix::ReplacingFile {
public:
    TimedCommitFile(std::unique_ptr<veltrix::ReplacingFile> inner, BatchRun& run)
        : inner_(std::move(inner)), run_(run) {}
    veltrix::Status write(std::string_view bytes) override { return inner_->write(bytes); }
    veltrix::Status commit() override {
        const double cpuStart = cpuMs();
        auto start = Clock::now();
        veltrix::Status done = inner_->commit();
        run_.commitMs += msSince(start);
        run_.commitCpuMs += cpuMs() - cpuStart;
        return done;
    }

private:
    std::unique_ptr<veltrix::ReplacingFile> inner_;
    BatchRun& run_;
};

class TimedCommitPlatform final : public veltrix::PosixPlatform {
public:
    TimedCommitPlatform(const std::string& folder, BatchRun& run) : PosixPlatform(folder), run_(run) {}
    veltrix::Result<std::unique_ptr<veltrix::ReplacingFile>> createReplacingFile(const std::string& path) override {
        auto file = PosixPlatform::createReplacingFile(path);
        if (!file) return file;
        return std::unique_ptr<veltrix::ReplacingFile>(std::make_unique<TimedCommitFile>(std::move(*file), run_));
    }

private:
    BatchRun& run_;
};

// One batch scan of this machine into `folder`, in-process.
BatchRun batchScan(const std::string& folder, std::FILE* sink) {
    BatchRun run;
    veltrix::BatchEnvironment environment;
    environment.liveService = [&run]() -> veltrix::Result<std::shared_ptr<veltrix::wmi::Service>> {
        run.live = std::make_shared<LiveService>();
        return std::shared_ptr<veltrix::wmi::Service>(run.live, &run.live->service);
    };
    environment.makePlatform = [&run](const std::string& out) -> std::unique_ptr<veltrix::Platform> {
        return std::make_unique<TimedCommitPlatform>(out, run);
    };
    environment.makeLocale = []() -> std::unique_ptr<veltrix::Locale> {
        return std::make_unique<veltrix::PosixLocale>();
    };
    std::vector<std::string> args{"veltrix", "--batch", "--name", "bench", "--output-dir", folder};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const double cpuStart = cpuMs();
    auto start = Clock::now();
    run.exitCode = veltrix::runBatch(static_cast<int>(args.size()), argv.data(), environment, sink, sink);
    run.ms = msSince(start);
    run.cpu = cpuMs() - cpuStart;
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
            content.reserve(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)));
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

// Reads every link the scan asked about (a path that is no link answers
// so); timed apart from the files, whose figure was the only one until the
// scan's links were counted as its input.
std::size_t plainReadLinks(const LinuxSource::Inputs& inputs) {
    std::size_t links = 0;
    char target[4096];
    for (const std::string& path : inputs.links)
        if (::readlink(path.c_str(), target, sizeof target) > 0) ++links;
    return links;
}

// Wall and processor time of a process running `args`, its output
// discarded; nullopt when it cannot be started or fails.
std::optional<std::pair<double, double>> timedProcess(std::vector<std::string> args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    const std::string program = args.front();
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    auto start = Clock::now();
    int failed = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return std::nullopt;
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0) {
    }
    double ms = msSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    auto toMs = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return std::make_pair(ms, toMs(usage.ru_utime) + toMs(usage.ru_stime));
}

// `lshw -html` on this machine (a 2-core VM), whole process, as measured
// earlier: the fastest and the slowest of its runs.
constexpr double kLshwHtmlFastestMs = 115;
constexpr double kLshwHtmlSlowestMs = 235;

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string_view(argv[1]) == "--scans") {
        // Only the in-process batch scan, N times: a loop to run under a
        // profiler, with nothing else in it.
        const int scans = std::atoi(argv[2]);
        const auto folder = std::filesystem::temp_directory_path() / ("veltrix_bench_" + std::to_string(::getpid()));
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        std::FILE* sink = std::fopen("/dev/null", "w");
        Timing batch;
        for (int r = 0; r < scans; ++r) {
            BatchRun run = batchScan(folder.string(), sink ? sink : stderr);
            if (run.exitCode != 0) return 1;
            batch.wall.push_back(run.ms);
            batch.cpu.push_back(run.cpu);
        }
        std::filesystem::remove_all(folder, ignored);
        if (sink) std::fclose(sink);
        if (scans > 0)
            std::printf("batch scan, all sections: %9.2f ms wall %9.2f ms cpu (medians of %d)\n", median(batch.wall),
                        median(batch.cpu), scans);
        return 0;
    }
    const std::string program = argc > 1 ? argv[1] : VELTRIX_PROGRAM;
    const int rounds = 5;
    const int pairedRounds = 15;  // scan, plain read, process: short, and the ratios are the figures that count

    // Every class, straight from the source.
    Timing build;
    std::size_t objects = 0, programs = 0;
    for (int r = 0; r < rounds; ++r) {
        LinuxSource source("/");
        const double cpuStart = cpuMs();
        auto start = Clock::now();
        objects = 0;
        for (const char* c : kClasses)
            if (auto list = source.instances("root\\cimv2", c)) objects += (*list)->size();
        auto subkeys = source.registrySubkeys("Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
        build.wall.push_back(msSince(start));
        build.cpu.push_back(cpuMs() - cpuStart);
        programs = subkeys ? subkeys->size() : 0;
    }

    // The whole batch scan, as the command line runs it, and a plain read of
    // exactly what it read, taken in turns so that the machine's own drift
    // weighs on both alike. A first scan, not counted, learns the input.
    std::error_code ignored;
    const auto folder = std::filesystem::temp_directory_path() / ("veltrix_bench_" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder, ignored);
    std::FILE* sink = std::fopen("/dev/null", "w");
    Timing batch, plain, plainLinks, shipped, floor;  // floor: any process at all
    Timing beforeCommit;  // the batch scan up to the report's commit
    LinuxSource::Inputs inputs;
    std::size_t filesRead = 0, bytes = 0, links = 0;
    for (int r = 0; r <= pairedRounds; ++r) {
        BatchRun run = batchScan(folder.string(), sink ? sink : stderr);
        if (run.exitCode != 0) {
            std::printf("batch scan failed with exit code %d\n", run.exitCode);
            return 1;
        }
        if (run.live) {
            inputs = run.live->source->inputsRead();
            filesRead = run.live->source->filesRead();
        }
        if (r == 0) continue;
        batch.wall.push_back(run.ms);
        batch.cpu.push_back(run.cpu);
        beforeCommit.wall.push_back(run.ms - run.commitMs);
        beforeCommit.cpu.push_back(run.cpu - run.commitCpuMs);
        const double cpuStart = cpuMs();
        auto start = Clock::now();
        bytes = plainRead(inputs);
        plain.wall.push_back(msSince(start));
        plain.cpu.push_back(cpuMs() - cpuStart);
        const double linksCpuStart = cpuMs();
        start = Clock::now();
        links = plainReadLinks(inputs);
        // Files and links together, taken as one reader would.
        plainLinks.wall.push_back(plain.wall.back() + msSince(start));
        plainLinks.cpu.push_back(plain.cpu.back() + cpuMs() - linksCpuStart);
    }
    // The shipped program as a process of its own, beside any process at
    // all, in a loop of their own: a child process between the scan and the
    // plain read would cool the caches of the one and not the other.
    for (int r = 0; r < pairedRounds; ++r) {
        if (auto times = timedProcess({program, "--batch", "--name", "shipped", "--output-dir", folder.string()})) {
            shipped.wall.push_back(times->first);
            shipped.cpu.push_back(times->second);
        }
        if (auto times = timedProcess({"/bin/true"})) {
            floor.wall.push_back(times->first);
            floor.cpu.push_back(times->second);
        }
    }
    const auto reportBytes = std::filesystem::file_size(folder / "bench.htm", ignored);
    std::filesystem::remove_all(folder, ignored);
    if (sink) std::fclose(sink);

    auto line = [](const char* what, const Timing& t) {
        std::printf("%-30s %9.2f ms wall %9.2f ms cpu\n", what, median(t.wall), median(t.cpu));
    };
    std::printf("medians of %d rounds (scan, plain read and shipped program: %d)\n", rounds, pairedRounds);
    line("build every class:", build);
    std::printf("    %zu objects, %zu programs\n", objects, programs);
    line("batch scan, all sections:", batch);
    std::printf("    report %llu bytes; all but its commit (flush to the disk, move over the old one): %.2f ms wall %.2f ms cpu\n",
                static_cast<unsigned long long>(reportBytes), median(beforeCommit.wall), median(beforeCommit.cpu));
    line("plain read of its input:", plain);
    std::printf("    %zu files tried (%zu counted by the source), %zu directories listed, %zu bytes\n",
                inputs.files.size(), filesRead, inputs.directories.size(), bytes);
    std::printf("batch scan / plain read:       %9.2f x wall %9.2f x cpu   (goal: at most 3 x)\n",
                median(batch.wall) / median(plain.wall), median(batch.cpu) / median(plain.cpu));
    std::printf("    without the report's commit:  %9.2f x wall %9.2f x cpu\n", median(beforeCommit.wall) / median(plain.wall),
                median(beforeCommit.cpu) / median(plain.cpu));
    line("plain read, its links too:", plainLinks);
    std::printf("    %zu paths asked whether they are links (%zu are)\n", inputs.links.size(), links);
    std::printf("batch scan / plain read, links: %8.2f x wall %9.2f x cpu\n", median(batch.wall) / median(plainLinks.wall),
                median(batch.cpu) / median(plainLinks.cpu));
    if (shipped.wall.size() != static_cast<std::size_t>(pairedRounds)) {
        std::printf("shipped program %s: could not run a batch scan, skipped\n", program.c_str());
        return 1;
    }
    line("shipped program, whole process:", shipped);
    std::printf("    %s, fastest %.2f ms wall\n", program.c_str(), *std::min_element(shipped.wall.begin(), shipped.wall.end()));
    std::printf("    start-up and loading beyond the in-process scan: %.2f ms wall %.2f ms cpu\n",
                median(shipped.wall) - median(batch.wall), median(shipped.cpu) - median(batch.cpu));
    if (!floor.wall.empty()) line("/bin/true, whole process:", floor);
    std::printf("reference, lshw -html (quoted): %9.0f to %.0f ms wall on this machine\n", kLshwHtmlFastestMs,
                kLshwHtmlSlowestMs);
    std::printf("shipped program / lshw -html:  %9.3f to %.3f x wall   (goal: at most 1/15 = %.3f x of its fastest)\n",
                median(shipped.wall) / kLshwHtmlFastestMs, median(shipped.wall) / kLshwHtmlSlowestMs, 1.0 / 15);
    return 0;
}
