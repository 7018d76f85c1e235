// The operating-system services the scan needs beyond its data source: the
// program folder, files, starting a program, the shell's "Open" and the
// clock. One implementation per platform; tests point it at a temporary
// folder.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/replacing_file.h"
#include "core/locale.h"
#include "core/report_stream.h"
#include "core/result.h"

namespace veltrix {

inline constexpr int kAttributeNormal = 0;
inline constexpr int kAttributeHidden = 2;

// Reads a single-byte text file line by line; a line ends with CR LF, LF or a
// lone CR.
class LineReader {
public:
    virtual ~LineReader() = default;
    // The next line without its end (raw bytes), nullopt at the end of the
    // file, or a failure.
    virtual Result<std::optional<std::string>> readLine() = 0;
};

class Platform {
public:
    virtual ~Platform() = default;

    // Where the report goes (the folder that holds the program, or the batch
    // output folder) and the separator used to join it with the file name.
    virtual std::string programFolder() const = 0;
    virtual std::string pathSeparator() const = 0;
    // "C:\" on Windows, "/" on Linux; the factory files and the diagnostics
    // tool are looked for there.
    virtual std::string systemDrive() const = 0;

    // Existence test that also sees hidden files.
    virtual bool fileExists(const std::string& path) const = 0;
    // Creates the file empty when it is not there; an existing file keeps
    // its content until a finished report replaces it.
    virtual Status createEmptyFile(const std::string& path) = 0;
    // The report is written beside `path` and replaces it when closed.
    virtual Result<std::unique_ptr<ReportStream>> openReport(const std::string& path, Messages& messages) = 0;
    // A new file that replaces `path` on commit (see ReplacingFile). A failure
    // names the path and the system's reason.
    virtual Result<std::unique_ptr<ReplacingFile>> createReplacingFile(const std::string& path) {
        return Failure{failure_code::kFileError, "Cannot write " + path + ": not supported on this platform"};
    }
    virtual Result<std::unique_ptr<LineReader>> openTextFile(const std::string& path) = 0;
    // A line of such a file as UTF-8. The files are written in the system's
    // ANSI code page; nullopt where there is none to ask (the caller then
    // reads Windows-1252).
    virtual std::optional<std::string> decodeTextLine(std::string_view /*bytes*/) const { return std::nullopt; }
    virtual Result<int> getAttributes(const std::string& path) const = 0;
    virtual Status setAttributes(const std::string& path, int attributes) = 0;

    // Starts a program in a normal window and does not wait for it.
    virtual Status startProcess(const std::string& program, const std::string& arguments) = 0;
    // The shell's "Open" of a document in its default viewer.
    virtual Status openWithShell(const std::string& path) = 0;

    virtual DateTime now() const = 0;
};

}  // namespace veltrix
