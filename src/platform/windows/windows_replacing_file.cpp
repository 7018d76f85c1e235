#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "platform/windows/utf16.h"
#include "platform/windows/windows_platform.h"

namespace veltrix {

namespace {

Failure lastError(const std::string& what, const std::string& path) {
    std::string text = what + " " + path;
    std::string reason = win::systemMessage(GetLastError());
    if (!reason.empty()) text += ": " + reason;
    return Failure{failure_code::kFileError, text};
}

class WindowsReplacingFile final : public ReplacingFile {
public:
    WindowsReplacingFile(HANDLE file, std::wstring temporary, std::string path)
        : file_(file), temporary_(std::move(temporary)), path_(std::move(path)) {}
    ~WindowsReplacingFile() override { discard(); }
    WindowsReplacingFile(const WindowsReplacingFile&) = delete;
    WindowsReplacingFile& operator=(const WindowsReplacingFile&) = delete;

    Status write(std::string_view bytes) override {
        if (failure_) return *failure_;
        if (file_ == INVALID_HANDLE_VALUE) {
            return Failure{failure_code::kFileError, "Cannot write " + path_ + ": the file is closed"};
        }
        buffer_.append(bytes);
        if (buffer_.size() >= kBufferSize) return flush();
        return {};
    }

    Status commit() override {
        if (file_ == INVALID_HANDLE_VALUE && !failure_) {
            return Failure{failure_code::kFileError, "Cannot write " + path_ + ": the file is closed"};
        }
        if (!failure_) flush();
        if (!failure_ && !FlushFileBuffers(file_)) failure_ = lastError("Cannot write", path_);
        if (!failure_) {
            HANDLE file = file_;
            file_ = INVALID_HANDLE_VALUE;
            if (!CloseHandle(file)) failure_ = lastError("Cannot write", path_);
        }
        if (!failure_ && !MoveFileExW(temporary_.c_str(), win::toWide(path_).c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            failure_ = lastError("Cannot replace", path_);
        }
        if (failure_) {
            discard();
            return *failure_;
        }
        temporary_.clear();
        return {};
    }

private:
    static constexpr std::size_t kBufferSize = 64 * 1024;

    Status flush() {
        std::size_t done = 0;
        while (done < buffer_.size()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(buffer_.size() - done, 1 << 20));
            if (!WriteFile(file_, buffer_.data() + done, chunk, &written, nullptr) || written == 0) {
                failure_ = lastError("Cannot write", path_);
                return *failure_;
            }
            done += written;
        }
        buffer_.clear();
        return {};
    }

    void discard() {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        if (!temporary_.empty()) DeleteFileW(temporary_.c_str());
        temporary_.clear();
    }

    HANDLE file_;
    std::wstring temporary_;
    std::string path_;
    std::string buffer_;
    std::optional<Failure> failure_;
};

}  // namespace

Result<std::unique_ptr<ReplacingFile>> WindowsPlatform::createReplacingFile(const std::string& path) {
    // The temporary file sits in the same folder, so that the move replaces
    // the old file in one step on the same volume.
    const std::size_t slash = path.find_last_of("\\/");
    const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    const std::string prefix = folder + (slash == std::string::npos ? "\\" : "");
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char unique[32];
        std::snprintf(unique, sizeof unique, "~veltrix-%08lx.tmp",
                      static_cast<unsigned long>(GetTickCount() ^ (GetCurrentProcessId() << 16) ^ (attempt * 7919u)));
        std::wstring temporary = win::toWide(prefix + unique);
        HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            return std::unique_ptr<ReplacingFile>(
                std::make_unique<WindowsReplacingFile>(file, std::move(temporary), path));
        }
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return lastError("Cannot create", path);
}

}  // namespace veltrix
