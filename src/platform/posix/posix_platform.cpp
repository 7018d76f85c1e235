#include "platform/posix/posix_platform.h"

#include "core/file_line_reader.h"
#include "core/timestamp.h"
#include "report/report_stream.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>
#include <vector>

extern char** environ;

namespace veltrix {

namespace {

// Linux has no hidden attribute. The DOS attributes live in the
// "user.DOSATTRIB" extended attribute as hexadecimal text, the form other
// programs that keep DOS attributes on Linux read too.
constexpr const char* kDosAttributes = "user.DOSATTRIB";

Failure fileFailure(const std::string& what, const std::string& path) {
    return Failure{failure_code::kFileError, what + " " + path + ": " + std::strerror(errno)};
}

Status spawn(const std::vector<std::string>& argv, bool searchPath) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    int rc = searchPath ? posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ)
                        : posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ);
    if (rc != 0) {
        return Failure{53, "File not found: cannot start " + argv[0] + " (" + std::strerror(rc) + ")"};
    }
    return {};
}

// How long the opener may take to say it found no viewer. One that finds
// one hands the file over and ends well within it, or keeps running as the
// viewer itself; both are success.
constexpr auto kOpenerVerdict = std::chrono::seconds(3);

// Starts the desktop's opener on `path` with its output thrown away (with no
// viewer installed it prints its own complaints), and reports its failure
// when it ends with one.
Status openWithOpener(const std::string& opener, const std::string& path) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args{const_cast<char*>(opener.c_str()), const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, opener.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return Failure{53, "no viewer could be started: " + opener + " is not installed (" + std::strerror(rc) + ")"};
    }
    const auto deadline = std::chrono::steady_clock::now() + kOpenerVerdict;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        const pid_t ended = ::waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
            const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return Failure{53, "no viewer is set up for it; " + opener + " ended with " + std::to_string(code)};
        }
        if (ended < 0) return {};  // reaped elsewhere: nothing more to learn
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Still running: the viewer is showing the file. It is reaped when it
    // ends, so that a long-running desktop program keeps no dead child.
    std::thread([pid] {
        int status = 0;
        ::waitpid(pid, &status, 0);
    }).detach();
    return {};
}

}  // namespace

PosixPlatform::PosixPlatform(std::string programFolder, std::string systemDrive)
    : programFolder_(std::move(programFolder)), systemDrive_(std::move(systemDrive)) {}

bool PosixPlatform::fileExists(const std::string& path) const {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

Status PosixPlatform::createEmptyFile(const std::string& path) {
    // No O_TRUNC: an old report is only replaced by a finished new one.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return fileFailure("Cannot create", path);
    ::close(fd);
    return {};
}

Result<std::unique_ptr<ReportStream>> PosixPlatform::openReport(const std::string& path, Messages& messages) {
    auto file = createReplacingFile(path);
    if (!file) return file.failure();
    return reportFileStream(std::move(*file), messages);
}

Result<std::unique_ptr<LineReader>> PosixPlatform::openTextFile(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return fileFailure("Cannot open", path);
    return makeFileLineReader(f);
}

Result<int> PosixPlatform::getAttributes(const std::string& path) const {
    if (!fileExists(path)) return fileFailure("File not found", path);
    char buffer[64] = {};
    ssize_t n = ::getxattr(path.c_str(), kDosAttributes, buffer, sizeof buffer - 1);
    if (n <= 0) return kAttributeNormal;  // no attribute kept, or a file system without them
    buffer[n] = '\0';
    unsigned value = 0;
    if (std::sscanf(buffer, "0x%x", &value) != 1 && std::sscanf(buffer, "%u", &value) != 1) {
        return kAttributeNormal;
    }
    return static_cast<int>(value);
}

Status PosixPlatform::setAttributes(const std::string& path, int attributes) {
    if (!fileExists(path)) return fileFailure("File not found", path);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%x", static_cast<unsigned>(attributes));
    if (::setxattr(path.c_str(), kDosAttributes, buffer, std::strlen(buffer), 0) != 0) {
        // A file system without extended attributes simply keeps no DOS
        // attributes; that is not an error worth reporting.
        if (errno == ENOTSUP || errno == EPERM) return {};
        return fileFailure("Cannot set attributes of", path);
    }
    return {};
}

Status PosixPlatform::startProcess(const std::string& program, const std::string& arguments) {
    std::vector<std::string> argv{program};
    std::size_t from = 0;
    while (from < arguments.size()) {
        std::size_t space = arguments.find(' ', from);
        if (space == std::string::npos) space = arguments.size();
        if (space > from) argv.push_back(arguments.substr(from, space - from));
        from = space + 1;
    }
    if (::access(program.c_str(), X_OK) != 0) return fileFailure("File not found", program);
    return spawn(argv, false);
}

Status PosixPlatform::openWithShell(const std::string& path) { return openWithOpener("xdg-open", path); }

DateTime PosixPlatform::now() const { return LocalNow(); }

std::string executableFolder() {
    std::vector<char> buffer(4096);
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (n <= 0) return ".";
    std::string path(buffer.data(), static_cast<std::size_t>(n));
    std::size_t slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace veltrix
