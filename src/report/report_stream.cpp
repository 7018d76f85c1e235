#include "report/report_stream.h"

#include <optional>

#include "report/encoding.h"

namespace veltrix {

namespace {

Failure writeFailure(const std::string& what) {
    return Failure{failure_code::kFileError, what};
}

constexpr std::size_t kLongLine = 4096;

// Each line goes into a file that replaces the old report only when the
// whole report was written: after a failed line the report is incomplete, so
// closing then removes the new file and keeps the old report.
class FileReportStream final : public ReportStream {
public:
    FileReportStream(std::unique_ptr<ReplacingFile> file, Messages& messages)
        : ReportStream(messages), file_(std::move(file)) {}

    Status writeLine(std::string_view utf8) override { return writeLineOf({utf8}); }

    Status writeLineOf(std::initializer_list<std::string_view> pieces) override {
        if (!file_) return writeFailure("Bad file mode: the report file is closed");
        // Pieces are encoded into one buffer, but a long piece in plain
        // ASCII (a list of programs), the same in Windows-1252, goes to the
        // file as it lies, without a copy.
        line_.clear();
        Status written;
        for (std::string_view piece : pieces) {
            if (piece.size() >= kLongLine && isAscii(piece)) {
                if (!line_.empty()) written = file_->write(line_);
                line_.clear();
                if (written.ok()) written = file_->write(piece);
                if (!written.ok()) break;
            } else {
                appendCp1252(line_, piece);
            }
        }
        if (written.ok()) {
            line_ += "\r\n";
            written = file_->write(line_);
        }
        if (!written.ok() && !failure_) failure_ = written.failure;
        return written;
    }

    Status close() override {
        if (!file_) return {};
        std::unique_ptr<ReplacingFile> file = std::move(file_);
        if (failure_) return *failure_;  // the file goes with `file`, the old report stays
        return file->commit();
    }

private:
    std::unique_ptr<ReplacingFile> file_;
    std::optional<Failure> failure_;
    std::string line_;  // the line being written, its room kept for the next
};

}  // namespace

std::unique_ptr<ReportStream> reportFileStream(std::unique_ptr<ReplacingFile> file, Messages& messages) {
    return std::make_unique<FileReportStream>(std::move(file), messages);
}

Status MemoryReportStream::writeLine(std::string_view utf8) {
    if (failWrites_) return writeFailure("Disk full");
    appendCp1252(bytes_, utf8);
    bytes_ += "\r\n";
    return {};
}

}  // namespace veltrix
