// The desktop windows on Linux live in a program of their own beside the
// command line, so that a batch scan never loads the Qt libraries. These are
// the two decisions the command line makes before it hands over to it.
#pragma once

#include <optional>
#include <string>

namespace veltrix {

inline constexpr const char* kDesktopProgramName = "veltrix-desktop";

struct DesktopProgram {
    std::string path;
    // Found in the installation's private folder rather than beside the
    // command line.
    bool installed = false;
};

// The desktop program that belongs to a command line in `programFolder`:
// the one right beside it (a build tree, an unpacked folder), else the one in
// the installation's private folder, `privateFolder` relative to
// `programFolder` (for example "../libexec/veltrix"). Only an executable
// regular file counts; nullopt when there is none.
std::optional<DesktopProgram> findDesktopProgram(const std::string& programFolder, const std::string& privateFolder);

// Where the desktop windows write their reports: next to the program, as
// always, unless the program is installed; an installed program's folder
// (/usr/bin) belongs to the system, not to the user (and root must not fill
// it with reports either), so then the home folder, or the current folder
// when there is no home.
std::string desktopReportFolder(const std::string& programFolder, bool installed, const char* home);

}  // namespace veltrix
