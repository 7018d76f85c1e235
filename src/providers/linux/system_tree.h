// Read-only view of the machine's files below a root directory ("/" live,
// a fake tree in tests). Every file is read at most once and kept; only
// regular files are opened, never device nodes or pipes, and an unreadable
// file (permission denied, missing) is simply absent.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "providers/linux/mapped_file.h"

namespace veltrix::linux_provider {

// One regular file of this machine, whole; nullopt when it is absent, not a
// regular file or unreadable.
std::optional<std::string> readRegularFile(const std::string& path);

class SystemTree {
public:
    explicit SystemTree(std::string root);

    const std::string& root() const { return root_; }
    // The path on this machine for an absolute path inside the tree.
    std::string hostPath(std::string_view path) const;

    // Whole content, or nullopt when absent or unreadable.
    const std::optional<std::string>& read(std::string_view path);
    // A large file mapped rather than copied, for the caller to parse once
    // and keep what it needs; nullopt as for read().
    std::optional<MappedFile> map(std::string_view path);
    // First line without surrounding blanks; nullopt when absent or empty.
    std::optional<std::string> attribute(std::string_view path);
    std::optional<std::uint64_t> number(std::string_view path);
    std::optional<std::uint64_t> hexNumber(std::string_view path);

    // Entry names of a directory, sorted; empty when absent.
    const std::vector<std::string>& list(std::string_view dir);
    bool exists(std::string_view path) const;
    // Last component of a symbolic link's target ("e1000e" for a driver link).
    std::optional<std::string> linkName(std::string_view path) const;
    // Where a path inside the tree is on this machine. Below a root of its
    // own (a captured system) the links on the way are followed inside the
    // tree, as resolve() does: the machine would follow a captured link with
    // an absolute target to its own files. Nullopt when a component is
    // missing or the links loop; "/" is this machine and needs none of it.
    std::optional<std::string> locate(std::string_view path) const;
    // The path with every symbolic link resolved, inside the tree; nullopt
    // when a component is missing or the links loop.
    std::optional<std::string> resolve(std::string_view path) const;

    std::size_t filesRead() const { return files_.size() + mapped_.size(); }
    // Paths on this machine of every file read (or tried), of every
    // directory listed and of every path asked whether it is a link, so far.
    std::vector<std::string> filesReadPaths() const;
    std::vector<std::string> directoriesListed() const;
    std::vector<std::string> linksRead() const;

private:
    // What one path names, as far as resolving goes.
    struct Link {
        enum class Kind { Missing, NotALink, Link } kind;
        std::string target;  // of a link
    };
    static Link readLink(const std::string& hostPath);
    // What a path inside the tree is, asked once per scan.
    const Link& link(const std::string& path) const;

    std::string root_;  // without trailing slash; empty for "/"
    std::map<std::string, std::optional<std::string>, std::less<>> files_;
    std::set<std::string, std::less<>> mapped_;
    std::map<std::string, std::vector<std::string>, std::less<>> dirs_;
    mutable std::map<std::string, Link, std::less<>> links_;  // paths inside the tree
};

}  // namespace veltrix::linux_provider
