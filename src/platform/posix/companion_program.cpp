#include "platform/posix/companion_program.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace veltrix {

namespace {

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::optional<CompanionProgram> findCompanionProgram(const std::string& name, const std::string& programFolder,
                                                     const std::string& privateFolder) {
    const std::filesystem::path folder(programFolder);
    const std::string beside = (folder / name).string();
    if (isExecutableFile(beside)) return CompanionProgram{beside, false};
    const std::string installed = (folder / privateFolder / name).lexically_normal().string();
    if (isExecutableFile(installed)) return CompanionProgram{installed, true};
    return std::nullopt;
}

std::string desktopReportFolder(const std::string& programFolder, bool installed, const char* home) {
    if (!installed) return programFolder;
    if (home && *home) return home;
    std::error_code error;
    auto current = std::filesystem::current_path(error);
    return error ? std::string(".") : current.string();
}

}  // namespace veltrix
