// The command line keeps what it seldom needs in programs of its own beside
// it, so that a batch scan maps no library it does not use: the desktop
// windows (Qt), the fleet store (SQLite, PostgreSQL, TLS), the fleet server
// (HTTP and TLS as well) and the agent (libcurl). These are the
// decisions the command line makes before it hands over to one of them.
#pragma once

#include <optional>
#include <string>

namespace veltrix {

inline constexpr const char* kDesktopProgramName = "veltrix-desktop";
inline constexpr const char* kStoreProgramName = "veltrix-store";
inline constexpr const char* kAgentProgramName = "veltrix-agent";
inline constexpr const char* kServerProgramName = "veltrix-server";

struct CompanionProgram {
    std::string path;
    // Found in the installation's private folder rather than beside the
    // command line.
    bool installed = false;
};

// The companion program `name` that belongs to a command line in
// `programFolder`: the one right beside it (a build tree, an unpacked folder),
// else the one in the installation's private folder, `privateFolder` relative
// to `programFolder` (for example "../libexec/veltrix"). Only an executable
// regular file counts; nullopt when there is none.
std::optional<CompanionProgram> findCompanionProgram(const std::string& name, const std::string& programFolder,
                                                     const std::string& privateFolder);

inline std::optional<CompanionProgram> findDesktopProgram(const std::string& programFolder,
                                                          const std::string& privateFolder) {
    return findCompanionProgram(kDesktopProgramName, programFolder, privateFolder);
}

// Where the desktop windows write their reports: next to the program, as
// always, unless the program is installed; an installed program's folder
// (/usr/bin) belongs to the system, not to the user (and root must not fill
// it with reports either), so then the home folder, or the current folder
// when there is no home.
std::string desktopReportFolder(const std::string& programFolder, bool installed, const char* home);

}  // namespace veltrix
