#include "core/file_line_reader.h"

namespace veltrix {

namespace {

class FileLineReader final : public LineReader {
public:
    explicit FileLineReader(std::FILE* f) : file_(f) {}
    ~FileLineReader() override { std::fclose(file_); }
    FileLineReader(const FileLineReader&) = delete;
    FileLineReader& operator=(const FileLineReader&) = delete;

    Result<std::optional<std::string>> readLine() override {
        std::string line;
        int c;
        bool any = false;
        while ((c = std::fgetc(file_)) != EOF) {
            any = true;
            if (c == '\n') break;
            if (c == '\r') {
                // CR LF, or a lone CR as older editors end lines.
                int after = std::fgetc(file_);
                if (after != '\n' && after != EOF) std::ungetc(after, file_);
                break;
            }
            line += static_cast<char>(c);
        }
        if (std::ferror(file_)) return Failure{failure_code::kFileError, "Input past end of file or read error"};
        if (!any) return std::optional<std::string>();
        return std::optional<std::string>(std::move(line));
    }

private:
    std::FILE* file_;
};

}  // namespace

std::unique_ptr<LineReader> makeFileLineReader(std::FILE* file) { return std::make_unique<FileLineReader>(file); }

}  // namespace veltrix
