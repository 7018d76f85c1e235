#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/posix/posix_platform.h"

namespace veltrix {

namespace {

class PosixReplacingFile final : public ReplacingFile {
public:
    PosixReplacingFile(int fd, std::string temporary, std::string path)
        : fd_(fd), temporary_(std::move(temporary)), path_(std::move(path)) {}
    ~PosixReplacingFile() override { discard(); }
    PosixReplacingFile(const PosixReplacingFile&) = delete;
    PosixReplacingFile& operator=(const PosixReplacingFile&) = delete;

    Status write(std::string_view bytes) override {
        if (failure_) return *failure_;
        if (fd_ < 0) return Failure{failure_code::kFileError, "Cannot write " + path_ + ": the file is closed"};
        buffer_.append(bytes);
        if (buffer_.size() >= kBufferSize) return flush();
        return {};
    }

    Status commit() override {
        if (fd_ < 0 && !failure_) return Failure{failure_code::kFileError, "Cannot write " + path_ + ": the file is closed"};
        if (!failure_) flush();
        // fsync: a full disk may only show once the data is really written.
        if (!failure_ && ::fsync(fd_) != 0 && errno != EINVAL) fail("Cannot write");
        if (!failure_) {
            const int fd = fd_;
            fd_ = -1;
            if (::close(fd) != 0) fail("Cannot write");
        }
        if (!failure_ && ::rename(temporary_.c_str(), path_.c_str()) != 0) fail("Cannot replace");
        if (failure_) {
            discard();
            return *failure_;
        }
        temporary_.clear();
        return {};
    }

private:
    static constexpr std::size_t kBufferSize = 64 * 1024;

    void fail(const char* what) {
        if (!failure_) failure_ = Failure{failure_code::kFileError, std::string(what) + " " + path_ + ": " + std::strerror(errno)};
    }

    Status flush() {
        std::size_t done = 0;
        while (done < buffer_.size()) {
            const ssize_t n = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n == 0) errno = ENOSPC;
                fail("Cannot write");
                return *failure_;
            }
            done += static_cast<std::size_t>(n);
        }
        buffer_.clear();
        return {};
    }

    void discard() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (!temporary_.empty()) ::unlink(temporary_.c_str());
        temporary_.clear();
    }

    int fd_;
    std::string temporary_;
    std::string path_;
    std::string buffer_;
    std::optional<Failure> failure_;
};

}  // namespace

Result<std::unique_ptr<ReplacingFile>> PosixPlatform::createReplacingFile(const std::string& path) {
    // The temporary file must be in the same folder: rename only replaces a
    // file in one step within one file system.
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    std::string name = folder + (folder.back() == '/' ? "" : "/") + ".veltrix-XXXXXX";
    std::vector<char> pattern(name.begin(), name.end());
    pattern.push_back('\0');
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return Failure{failure_code::kFileError, "Cannot create " + path + ": " + std::strerror(errno)};
    // mkostemp makes the file private; a replacement keeps the old file's
    // permissions, a new file gets the usual ones.
    struct stat old{};
    mode_t mode = 0;
    if (::stat(path.c_str(), &old) == 0) {
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
    return std::unique_ptr<ReplacingFile>(std::make_unique<PosixReplacingFile>(fd, pattern.data(), path));
}

}  // namespace veltrix
