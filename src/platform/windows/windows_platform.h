// Platform services on Windows (Win32, wide-character calls throughout).
#pragma once

#include <string>

#include "core/platform.h"

namespace veltrix {

class WindowsPlatform : public Platform {
public:
    // `programFolder`: where reports go; `systemDrive`: where the factory
    // files and the diagnostics tool are looked for ("C:\" on a real machine);
    // `codePage`: that of the factory text files, 0 for the system's ANSI
    // code page.
    explicit WindowsPlatform(std::string programFolder, std::string systemDrive = "C:\\",
                             unsigned codePage = 0);

    std::string programFolder() const override { return programFolder_; }
    std::string pathSeparator() const override { return "\\"; }
    std::string systemDrive() const override { return systemDrive_; }

    bool fileExists(const std::string& path) const override;
    Status createEmptyFile(const std::string& path) override;
    Result<std::unique_ptr<ReportStream>> openReport(const std::string& path, Messages& messages) override;
    Result<std::unique_ptr<ReplacingFile>> createReplacingFile(const std::string& path) override;
    Result<std::unique_ptr<LineReader>> openTextFile(const std::string& path) override;
    std::optional<std::string> decodeTextLine(std::string_view bytes) const override;
    Result<int> getAttributes(const std::string& path) const override;
    Status setAttributes(const std::string& path, int attributes) override;
    Status startProcess(const std::string& program, const std::string& arguments) override;
    Status openWithShell(const std::string& path) override;
    DateTime now() const override;

private:
    std::string programFolder_;
    std::string systemDrive_;
    unsigned codePage_;
};

// The folder that holds the running program, without a trailing backslash
// except at a drive root ("C:\"), the way the program folder has always read.
std::string executableFolder();

}  // namespace veltrix
