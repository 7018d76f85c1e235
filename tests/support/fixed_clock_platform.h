// The POSIX platform services with a clock that always tells the same time.
#pragma once

#include "platform/posix/posix_platform.h"

namespace veltrix::test {

class FixedClockPlatform final : public Platform {
public:
    FixedClockPlatform(std::string folder, std::string drive, DateTime now)
        : inner_(std::move(folder), std::move(drive)), now_(now) {}

    std::string programFolder() const override { return inner_.programFolder(); }
    std::string pathSeparator() const override { return inner_.pathSeparator(); }
    std::string systemDrive() const override { return inner_.systemDrive(); }
    bool fileExists(const std::string& path) const override { return inner_.fileExists(path); }
    Status createEmptyFile(const std::string& path) override { return inner_.createEmptyFile(path); }
    Result<std::unique_ptr<ReportStream>> openReport(const std::string& path, Messages& messages) override {
        return inner_.openReport(path, messages);
    }
    Result<std::unique_ptr<LineReader>> openTextFile(const std::string& path) override {
        return inner_.openTextFile(path);
    }
    Result<int> getAttributes(const std::string& path) const override { return inner_.getAttributes(path); }
    Status setAttributes(const std::string& path, int attributes) override {
        return inner_.setAttributes(path, attributes);
    }
    Status startProcess(const std::string& program, const std::string& arguments) override {
        return inner_.startProcess(program, arguments);
    }
    Status openWithShell(const std::string& path) override { return inner_.openWithShell(path); }
    DateTime now() const override { return now_; }

private:
    PosixPlatform inner_;
    DateTime now_;
};

}  // namespace veltrix::test
