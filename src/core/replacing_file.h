// A file that replaces its final one only when it is complete: written to a
// temporary file in the same folder, then moved over the final name in one
// step. A full disk or any other failure never destroys the old file and
// never leaves half a file behind.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"

namespace veltrix {

class ReplacingFile {
public:
    // Without a successful commit() the temporary file is removed and the
    // old file stays as it was.
    virtual ~ReplacingFile() = default;
    // A failure names the final path and the system's reason; once a write
    // failed, commit() fails too.
    virtual Status write(std::string_view bytes) = 0;
    // Flushes the data to the disk, closes the file and moves it over the
    // final path.
    virtual Status commit() = 0;
};

// The part every platform shares: writes gather in a buffer, the first
// failure sticks, and commit() or a failure end the file. A platform writes
// the bytes out, finishes (flush to the disk, close, move over the final
// path) and discards (close, remove the temporary file); its destructor calls
// discard(), which must do nothing once the file was finished.
class BufferedReplacingFile : public ReplacingFile {
public:
    Status write(std::string_view bytes) final;
    Status commit() final;

protected:
    explicit BufferedReplacingFile(std::string path) : path_(std::move(path)) {}
    const std::string& path() const { return path_; }
    // All of `bytes`, or the failure with the path and the system's reason.
    virtual std::optional<Failure> writeOut(std::string_view bytes) = 0;
    virtual std::optional<Failure> finish() = 0;
    virtual void discard() = 0;

private:
    static constexpr std::size_t kBufferSize = 64 * 1024;
    std::string path_;
    std::string buffer_;
    std::optional<Failure> failure_;
    bool ended_ = false;
};

}  // namespace veltrix
