#include "report/report_stream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "report/encoding.h"

namespace veltrix {

namespace {

Failure writeFailure(const std::string& what) {
    return Failure{failure_code::kFileError, what};
}

class FileReportStream final : public ReportStream {
public:
    FileReportStream(std::FILE* file, std::string path, Messages& messages)
        : ReportStream(messages), file_(file), path_(std::move(path)) {}
    ~FileReportStream() override {
        if (file_) std::fclose(file_);
    }

    Status writeLine(std::string_view utf8) override {
        if (!file_) return writeFailure("Bad file mode: the report file is closed");
        std::string line = encodeCp1252(utf8);
        line += "\r\n";
        if (std::fwrite(line.data(), 1, line.size(), file_) != line.size()) {
            return writeFailure("Error writing " + path_ + ": " + std::strerror(errno));
        }
        return {};
    }

    Status close() override {
        if (!file_) return {};
        std::FILE* f = file_;
        file_ = nullptr;
        if (std::fclose(f) != 0) return writeFailure("Error closing " + path_ + ": " + std::strerror(errno));
        return {};
    }

private:
    std::FILE* file_;
    std::string path_;
};

}  // namespace

Result<std::unique_ptr<ReportStream>> openReportFile(const std::string& path, Messages& messages) {
#ifdef _WIN32
    // The narrow fopen reads the name in the ANSI code page; the path is UTF-8.
    std::filesystem::path native(std::u8string(path.begin(), path.end()));
    std::FILE* f = _wfopen(native.c_str(), L"wb");
#else
    std::FILE* f = std::fopen(path.c_str(), "wb");
#endif
    if (!f) return writeFailure("Cannot open " + path + " for writing: " + std::strerror(errno));
    return std::unique_ptr<ReportStream>(std::make_unique<FileReportStream>(f, path, messages));
}

Status MemoryReportStream::writeLine(std::string_view utf8) {
    if (failWrites_) return writeFailure("Disk full");
    bytes_ += encodeCp1252(utf8);
    bytes_ += "\r\n";
    return {};
}

}  // namespace veltrix
