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

class WindowsReplacingFile final : public BufferedReplacingFile {
public:
    WindowsReplacingFile(HANDLE file, std::wstring temporary, std::string path)
        : BufferedReplacingFile(std::move(path)), file_(file), temporary_(std::move(temporary)) {}
    ~WindowsReplacingFile() override { discard(); }
    WindowsReplacingFile(const WindowsReplacingFile&) = delete;
    WindowsReplacingFile& operator=(const WindowsReplacingFile&) = delete;

private:
    std::optional<Failure> writeOut(std::string_view bytes) override {
        while (!bytes.empty()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1 << 20));
            if (!WriteFile(file_, bytes.data(), chunk, &written, nullptr) || written == 0) {
                return lastError("Cannot write", path());
            }
            bytes.remove_prefix(written);
        }
        return std::nullopt;
    }

    std::optional<Failure> finish() override {
        if (!FlushFileBuffers(file_)) return lastError("Cannot write", path());
        HANDLE file = file_;
        file_ = INVALID_HANDLE_VALUE;
        if (!CloseHandle(file)) return lastError("Cannot write", path());
        if (!MoveFileExW(temporary_.c_str(), win::toWide(path()).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return lastError("Cannot replace", path());
        }
        temporary_.clear();
        return std::nullopt;
    }

    void discard() override {
        if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
        file_ = INVALID_HANDLE_VALUE;
        if (!temporary_.empty()) DeleteFileW(temporary_.c_str());
        temporary_.clear();
    }

    HANDLE file_;
    std::wstring temporary_;
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
