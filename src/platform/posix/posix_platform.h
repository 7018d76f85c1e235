// Platform services on Linux and other POSIX systems.
#pragma once

#include <string>

#include "core/platform.h"

namespace veltrix {

class PosixPlatform : public Platform {
public:
    // `programFolder`: where reports go; `systemDrive`: where the factory
    // files and the diagnostics tool are looked for ("/" on a real machine).
    PosixPlatform(std::string programFolder, std::string systemDrive = "/");

    std::string programFolder() const override { return programFolder_; }
    std::string pathSeparator() const override { return "/"; }
    std::string systemDrive() const override { return systemDrive_; }

    bool fileExists(const std::string& path) const override;
    Status createEmptyFile(const std::string& path) override;
    Result<std::unique_ptr<ReportStream>> openReport(const std::string& path, Messages& messages) override;
    Result<std::unique_ptr<ReplacingFile>> createReplacingFile(const std::string& path) override;
    Result<std::unique_ptr<LineReader>> openTextFile(const std::string& path) override;
    Result<int> getAttributes(const std::string& path) const override;
    Status setAttributes(const std::string& path, int attributes) override;
    Status startProcess(const std::string& program, const std::string& arguments) override;
    Status openWithShell(const std::string& path) override;
    DateTime now() const override;

private:
    std::string programFolder_;
    std::string systemDrive_;
};

// The folder that holds the running program.
std::string executableFolder();

}  // namespace veltrix
