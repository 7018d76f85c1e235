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

class PosixReplacingFile final : public BufferedReplacingFile {
public:
    PosixReplacingFile(int fd, std::string temporary, std::string path)
        : BufferedReplacingFile(std::move(path)), fd_(fd), temporary_(std::move(temporary)) {}
    ~PosixReplacingFile() override { discard(); }
    PosixReplacingFile(const PosixReplacingFile&) = delete;
    PosixReplacingFile& operator=(const PosixReplacingFile&) = delete;

private:
    Failure failure(const char* what) const {
        return Failure{failure_code::kFileError, std::string(what) + " " + path() + ": " + std::strerror(errno)};
    }

    std::optional<Failure> writeOut(std::string_view bytes) override {
        while (!bytes.empty()) {
            const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n == 0) errno = ENOSPC;
                return failure("Cannot write");
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return std::nullopt;
    }

    std::optional<Failure> finish() override {
        // fsync: a full disk may only show once the data is really written.
        if (::fsync(fd_) != 0 && errno != EINVAL) return failure("Cannot write");
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) return failure("Cannot write");
        if (::rename(temporary_.c_str(), path().c_str()) != 0) return failure("Cannot replace");
        temporary_.clear();
        return std::nullopt;
    }

    void discard() override {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        if (!temporary_.empty()) ::unlink(temporary_.c_str());
        temporary_.clear();
    }

    int fd_;
    std::string temporary_;
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
