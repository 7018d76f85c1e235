#include "platform/posix/agent_timer.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

extern char** environ;

namespace veltrix {
namespace {

namespace fs = std::filesystem;

constexpr const char* kTimer = "veltrix-agent.timer";

bool anyExists(std::initializer_list<const char*> paths) {
    std::error_code error;
    for (const char* path : paths) {
        if (fs::exists(path, error)) return true;
    }
    return false;
}

}  // namespace

Result<std::string> enableAgentTimer() {
    const std::string noTimer = std::string("no ") + kTimer +
                                " is installed here: start \"veltrix agent run\" daily by other means";
    if (!anyExists({"/lib/systemd/system/veltrix-agent.timer", "/usr/lib/systemd/system/veltrix-agent.timer",
                    "/etc/systemd/system/veltrix-agent.timer"})) {
        return noTimer;
    }
    std::string systemctl;
    for (const char* candidate : {"/usr/bin/systemctl", "/bin/systemctl"}) {
        if (::access(candidate, X_OK) == 0) {
            systemctl = candidate;
            break;
        }
    }
    if (systemctl.empty()) return "systemctl is not installed: " + noTimer.substr(noTimer.find("start"));
    // The standard test of whether systemd runs this computer; without it
    // (a container, a chroot) the timer is only enabled, for the next boot.
    std::error_code error;
    const bool running = fs::is_directory("/run/systemd/system", error);
    std::vector<std::string> words{systemctl, "enable", "--quiet"};
    if (running) words.push_back("--now");
    words.push_back(kTimer);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, systemctl.c_str(), nullptr, nullptr, argv.data(), environ);
    if (spawned != 0) {
        return Failure{failure_code::kFileError, kTimer + std::string(" not enabled: ") + systemctl +
                                                     " could not start: " + std::strerror(spawned)};
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return Failure{failure_code::kFileError, std::string(kTimer) + ": lost systemctl"};
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return Failure{failure_code::kFileError,
                       std::string(kTimer) + " not enabled: \"systemctl enable " + kTimer + "\" failed (" +
                           (WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status)) : "killed") + ")"};
    }
    if (running) return std::string(kTimer) + " enabled and started: \"veltrix agent run\" runs daily";
    return std::string(kTimer) + " enabled; systemd is not running here, so it starts with the next boot";
}

}  // namespace veltrix
