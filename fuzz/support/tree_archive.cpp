#include "support/tree_archive.h"

#include <algorithm>
#include <fstream>
#include <system_error>
#include <vector>

namespace veltrix::fuzzing {

namespace fs = std::filesystem;

namespace {

struct Record {
    char kind;
    std::string path;
    std::string data;
};

// Keeps only components that are plain names; empty when none is left.
std::string safeRelativePath(std::string_view path) {
    std::string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        std::string_view part = path.substr(start, end - start);
        bool plain = !part.empty() && part != "." && part != ".." &&
                     part.find('\0') == std::string_view::npos;
        if (plain) {
            if (!out.empty()) out += '/';
            out += part;
        }
        start = end + 1;
    }
    return out;
}

// True when no component of `path` below `root` is a symbolic link.
bool noLinkOnTheWay(const fs::path& root, const std::string& relative) {
    fs::path at = root;
    for (const auto& part : fs::path(relative)) {
        at /= part;
        std::error_code ec;
        auto status = fs::symlink_status(at, ec);
        if (ec) return true;  // missing from here on
        if (fs::is_symlink(status)) return false;
    }
    return true;
}

void put(std::string& out, const Record& r) {
    out += r.kind;
    out += static_cast<char>(r.path.size());
    out += static_cast<char>(r.data.size() & 0xFF);
    out += static_cast<char>(r.data.size() >> 8);
    out += r.path;
    out += r.data;
}

}  // namespace

void unpackTree(std::string_view archive, const fs::path& root) {
    std::vector<Record> records;
    std::size_t at = 0;
    while (at + 4 <= archive.size()) {
        Record r;
        r.kind = archive[at];
        std::size_t pathLength = static_cast<unsigned char>(archive[at + 1]);
        std::size_t dataLength = static_cast<unsigned char>(archive[at + 2]) |
                                 (static_cast<std::size_t>(static_cast<unsigned char>(archive[at + 3])) << 8);
        at += 4;
        if (archive.size() - at < pathLength + dataLength) break;
        r.path = safeRelativePath(archive.substr(at, pathLength));
        r.data = std::string(archive.substr(at + pathLength, dataLength));
        at += pathLength + dataLength;
        if (!r.path.empty()) records.push_back(std::move(r));
    }
    std::error_code ec;
    // Directories and files first, links last.
    std::stable_partition(records.begin(), records.end(), [](const Record& r) { return r.kind != 'l'; });
    for (const Record& r : records) {
        fs::path target = root / r.path;
        if (!noLinkOnTheWay(root, r.path)) continue;
        fs::create_directories(target.parent_path(), ec);
        if (r.kind == 'd') {
            fs::create_directories(target, ec);
        } else if (r.kind == 'l') {
            if (!fs::exists(fs::symlink_status(target, ec))) fs::create_symlink(r.data, target, ec);
        } else if (!fs::is_directory(fs::symlink_status(target, ec))) {
            std::ofstream(target, std::ios::binary | std::ios::trunc) << r.data;
        }
    }
}

std::string packTree(const fs::path& root, std::size_t limit) {
    std::vector<Record> records;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        // Lexically: fs::relative would resolve the links it should record.
        std::string relative = it->path().lexically_relative(root).generic_string();
        if (relative.empty() || relative.size() > 255) continue;
        Record r{'f', relative, {}};
        if (it->is_symlink(ec)) {
            r.kind = 'l';
            r.data = fs::read_symlink(it->path(), ec).string();
        } else if (it->is_directory(ec)) {
            r.kind = 'd';
        } else if (it->is_regular_file(ec)) {
            std::ifstream in(it->path(), std::ios::binary);
            r.data.resize(65535);
            in.read(r.data.data(), static_cast<std::streamsize>(r.data.size()));
            r.data.resize(static_cast<std::size_t>(in.gcount()));
        } else {
            continue;
        }
        if (r.data.size() > 65535) continue;
        records.push_back(std::move(r));
    }
    // Stable seeds: the same tree always packs to the same bytes.
    std::sort(records.begin(), records.end(), [](const Record& a, const Record& b) { return a.path < b.path; });
    std::string out;
    for (const Record& r : records) {
        if (out.size() + 4 + r.path.size() + r.data.size() > limit) continue;
        put(out, r);
    }
    return out;
}

}  // namespace veltrix::fuzzing
