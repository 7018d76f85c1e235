#include "providers/linux/system_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/trace.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

namespace {
// Large enough for the package database of a full desktop install.
constexpr std::size_t kMaxFileSize = 256u << 20;
constexpr std::size_t kSmallFile = 65536;
// Links followed in one path before it counts as a loop, as the kernel's.
constexpr int kMaxLinks = 40;

}  // namespace

std::optional<std::string> readRegularFile(const std::string& path) {
    // Only regular files are opened: opening a device node can rewind a tape
    // or hang up a modem. Sysfs holds neither device nodes nor pipes and its
    // links stay inside it, so there the check before opening, a path lookup
    // as dear as the open itself and most of a scan's files, is left out;
    // the file is still checked once open.
    struct stat st {};
    if (!startsWith(path, "/sys/") && (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) return std::nullopt;
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string content;
    bool failed = false;
    if (st.st_size > static_cast<off_t>(kSmallFile)) {
        // Large files (the package database) are read straight into the
        // string, sized once from the file, saving a copy of every byte. The
        // size stays a hint only: a file may grow.
        std::size_t length = 0;
        content.resize(std::min(static_cast<std::size_t>(st.st_size), kMaxFileSize) + 1);
        for (;;) {
            if (length == content.size()) {
                if (length > kMaxFileSize) break;
                content.resize(std::min(length * 2, kMaxFileSize + 1));
            }
            ssize_t n = ::read(fd, content.data() + length, content.size() - length);
            if (n < 0) {
                if (errno == EINTR) continue;
                failed = true;
                break;
            }
            if (n == 0) break;
            length += static_cast<std::size_t>(n);
        }
        content.resize(length);
        if (length > kMaxFileSize) failed = true;
    } else {
        // Small files (sysfs attributes claim 4096 bytes whatever they hold)
        // fit the buffer and get an exact allocation.
        char buf[kSmallFile];
        for (;;) {
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0) {
                if (errno == EINTR) continue;
                // Some sysfs attributes refuse reading (EIO, EINVAL) when the
                // device cannot answer: treat as absent.
                failed = true;
                break;
            }
            if (n == 0) break;
            content.append(buf, static_cast<std::size_t>(n));
            if (content.size() > kMaxFileSize) {
                failed = true;
                break;
            }
        }
    }
    ::close(fd);
    if (failed) return std::nullopt;
    return content;
}

SystemTree::SystemTree(std::string root) : root_(std::move(root)) {
    while (!root_.empty() && root_.back() == '/') root_.pop_back();
}

std::string SystemTree::hostPath(std::string_view path) const {
    std::string out = root_;
    if (path.empty() || path.front() != '/') out += '/';
    out += path;
    return out;
}

namespace {

// Which file answered, or why it could not: as an ordinary user the serial
// numbers and the SMBIOS table are root's only, and a section that comes out
// empty should say so.
void traceRead(std::string_view path, const std::optional<std::string>& content, int error) {
    std::string text = "linux: ";
    text += path;
    if (content) {
        text += ": read, " + std::to_string(content->size()) + " bytes";
    } else if (error == EACCES || error == EPERM) {
        text += ": left out, permission denied (only root may read it)";
    } else if (error == ENOENT || error == ENOTDIR) {
        text += ": left out, not there";
    } else if (error != 0) {
        text += ": left out, ";
        text += std::strerror(error);
    } else {
        text += ": left out, not a regular file";
    }
    trace::line(text);
}

}  // namespace

const std::optional<std::string>& SystemTree::read(std::string_view path) {
    auto it = files_.find(path);
    if (it != files_.end()) return it->second;
    errno = 0;
    auto located = locate(path);
    if (!located) errno = ENOENT;
    auto content = located ? readRegularFile(*located) : std::nullopt;
    if (trace::enabled()) traceRead(path, content, errno);
    return files_.emplace(std::string(path), std::move(content)).first->second;
}

std::optional<MappedFile> SystemTree::map(std::string_view path) {
    mapped_.emplace(path);
    auto located = locate(path);
    return located ? MappedFile::open(*located) : std::nullopt;
}

std::optional<std::string> SystemTree::attribute(std::string_view path) {
    const auto& content = read(path);
    if (!content) return std::nullopt;
    std::string_view text = *content;
    std::size_t nl = text.find('\n');
    std::string line = trim(text.substr(0, nl));
    if (line.empty()) return std::nullopt;
    return utf8OrCp1252(std::move(line));
}

std::optional<std::uint64_t> SystemTree::number(std::string_view path) {
    auto a = attribute(path);
    return a ? parseDecimal(*a) : std::nullopt;
}

std::optional<std::uint64_t> SystemTree::hexNumber(std::string_view path) {
    auto a = attribute(path);
    return a ? parseHex(*a) : std::nullopt;
}

const std::vector<std::string>& SystemTree::list(std::string_view dir) {
    auto it = dirs_.find(dir);
    if (it != dirs_.end()) return it->second;
    // opendir rather than a directory iterator, which asks the kernel three
    // more things per directory; a scan lists a few dozen.
    std::vector<std::string> names;
    auto located = locate(dir);
    if (DIR* d = located ? ::opendir(located->c_str()) : nullptr) {
        while (const dirent* entry = ::readdir(d)) {
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") names.emplace_back(name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return dirs_.emplace(std::string(dir), std::move(names)).first->second;
}

bool SystemTree::exists(std::string_view path) const {
    struct stat st {};
    auto located = locate(path);
    return located && ::stat(located->c_str(), &st) == 0;
}

const SystemTree::Link& SystemTree::link(const std::string& path) const {
    auto known = links_.find(path);
    if (known == links_.end()) known = links_.emplace(path, readLink(hostPath(path))).first;
    return known->second;
}

std::optional<std::string> SystemTree::linkName(std::string_view path) const {
    // A driver's module link is asked for by every device it drives. Below
    // a root of its own the folders on the way are found inside the tree.
    std::string inTree(path);
    if (!root_.empty()) {
        const std::size_t slash = path.rfind('/');
        const std::string_view name = path.substr(slash == std::string_view::npos ? 0 : slash + 1);
        if (name.empty() || name == "." || name == "..") return std::nullopt;
        auto folder = resolve(slash == std::string_view::npos || slash == 0 ? "/" : path.substr(0, slash));
        if (!folder) return std::nullopt;
        inTree = (*folder == "/" ? std::string() : *folder) + "/" + std::string(name);
    }
    const Link& link = this->link(inTree);
    if (link.kind != Link::Kind::Link) return std::nullopt;
    std::string name = link.target.substr(link.target.rfind('/') + 1);
    if (name.empty()) return std::nullopt;
    return name;
}

std::optional<std::string> SystemTree::locate(std::string_view path) const {
    if (root_.empty()) return hostPath(path);
    auto resolved = resolve(path);
    if (!resolved) return std::nullopt;
    return hostPath(*resolved);
}

std::optional<std::string> SystemTree::resolve(std::string_view path) const {
    // Component by component, as the kernel does, with the tree as the root:
    // a link's absolute target and a ".." above the top stay inside it. What
    // each component is gets asked once per scan; device paths share most of
    // theirs.
    std::vector<std::string> pending;  // components still to walk, the next one last
    auto push = [&pending](std::string_view text) {
        std::vector<std::string> parts;
        for (std::size_t pos = 0; pos <= text.size();) {
            std::size_t cut = std::min(text.find('/', pos), text.size());
            if (cut > pos) parts.emplace_back(text.substr(pos, cut - pos));
            pos = cut + 1;
        }
        pending.insert(pending.end(), parts.rbegin(), parts.rend());
    };
    push(path);
    std::string resolved;  // inside the tree, no trailing slash; empty is the top
    int links = 0;
    while (!pending.empty()) {
        const std::string part = std::move(pending.back());
        pending.pop_back();
        if (part == ".") continue;
        if (part == "..") {
            resolved.erase(std::min(resolved.rfind('/'), resolved.size()));
            continue;
        }
        std::string next = resolved + "/" + part;
        const Link& link = this->link(next);
        if (link.kind == Link::Kind::Missing) return std::nullopt;
        if (link.kind == Link::Kind::NotALink) {
            resolved = std::move(next);
            continue;
        }
        if (++links > kMaxLinks) return std::nullopt;  // a loop
        if (link.target.front() == '/') resolved.clear();
        push(link.target);
    }
    return resolved.empty() ? std::string("/") : resolved;
}

SystemTree::Link SystemTree::readLink(const std::string& hostPath) {
    std::string target(4096, '\0');
    const ssize_t n = ::readlink(hostPath.c_str(), target.data(), target.size());
    if (n < 0) return {errno == EINVAL ? Link::Kind::NotALink : Link::Kind::Missing, {}};
    if (n == 0 || static_cast<std::size_t>(n) == target.size()) return {Link::Kind::Missing, {}};
    target.resize(static_cast<std::size_t>(n));
    return {Link::Kind::Link, std::move(target)};
}

std::vector<std::string> SystemTree::filesReadPaths() const {
    std::vector<std::string> out;
    for (const auto& entry : files_) out.push_back(hostPath(entry.first));
    for (const std::string& path : mapped_) out.push_back(hostPath(path));
    return out;
}

std::vector<std::string> SystemTree::linksRead() const {
    std::vector<std::string> out;
    for (const auto& entry : links_) out.push_back(hostPath(entry.first));
    return out;
}

std::vector<std::string> SystemTree::directoriesListed() const {
    std::vector<std::string> out;
    for (const auto& entry : dirs_) out.push_back(hostPath(entry.first));
    return out;
}

}  // namespace veltrix::linux_provider
