#include "ui/console/spool.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <random>

#include "data/report_reader.h"

namespace veltrix {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSuffix = ".json.gz";
// A compressed scan is well under a megabyte; a file far past that is not one of ours.
constexpr std::size_t kLongestSpooledScan = 64u * 1024 * 1024;

Failure spoolFailure(const std::string& path, const std::string& why) {
    return Failure{failure_code::kFileError, path + ": " + why};
}

// "20261209T051403.123456Z-0a1b2c3d.json.gz": only names of that shape are
// scans; a temporary file being written or anything else is left alone.
bool isSpoolName(const std::string& name) {
    if (name.size() != 32 + kSuffix.size()) return false;
    if (name.compare(32, kSuffix.size(), kSuffix) != 0) return false;
    for (std::size_t i = 0; i < 32; ++i) {
        const char c = name[i];
        const bool ok = i == 8 ? c == 'T' : i == 15 ? c == '.' : i == 22 ? c == 'Z' : i == 23 ? c == '-'
                        : i < 23 ? (c >= '0' && c <= '9')
                                 : ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'));
        if (!ok) return false;
    }
    return true;
}

Result<std::vector<SpooledScan>> scansIn(const std::string& folder) {
    std::vector<SpooledScan> scans;
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) return spoolFailure(folder, "cannot read the spool: " + error.message());
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) return spoolFailure(folder, "cannot read the spool: " + error.message());
        std::string name = it->path().filename().string();
        std::error_code kind;
        if (!isSpoolName(name) || !it->is_regular_file(kind)) continue;
        scans.push_back({it->path().string(), std::move(name)});
    }
    std::sort(scans.begin(), scans.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    return scans;
}

}  // namespace

std::string spoolFileName(std::chrono::system_clock::time_point when, unsigned tag) {
    using namespace std::chrono;
    const auto micros = duration_cast<microseconds>(when.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char name[64];
    std::snprintf(name, sizeof name, "%04d%02d%02dT%02d%02d%02d.%06lldZ-%08x.json.gz", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<long long>(micros % 1000000), tag);
    return name;
}

Spool::Spool(std::string folder, Platform& platform, std::size_t capacity)
    : folder_(std::move(folder)), platform_(platform), capacity_(std::max<std::size_t>(capacity, 1)) {}

Result<SpooledScan> Spool::add(std::string_view gzipBody, std::chrono::system_clock::time_point when,
                               std::vector<std::string>& dropped) {
    auto present = list();
    if (!present) return present.failure();
    // Room for the new scan first: the oldest go, since a newer scan of the
    // same computer tells the server more.
    for (std::size_t i = 0; present->size() - i >= capacity_; ++i) {
        if (Status removed = remove((*present)[i]); !removed.ok()) return removed.failure;
        dropped.push_back((*present)[i].name);
    }
    std::random_device random;
    SpooledScan scan;
    scan.name = spoolFileName(when, static_cast<unsigned>(random()));
    scan.path = (fs::path(folder_) / scan.name).string();
    auto file = platform_.createReplacingFile(scan.path);
    if (!file) return file.failure();
    if (Status written = (*file)->write(gzipBody); !written.ok()) return written.failure;
    if (Status committed = (*file)->commit(); !committed.ok()) return committed.failure;
    std::error_code ignored;
    fs::permissions(scan.path, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace, ignored);
    return scan;
}

Result<std::vector<SpooledScan>> Spool::list() const { return scansIn(folder_); }

Result<std::string> Spool::read(const SpooledScan& scan) const { return data::ReadWholeFile(scan.path, kLongestSpooledScan); }

Status Spool::remove(const SpooledScan& scan) {
    std::error_code error;
    // Already gone (another run delivered it) is as good as removed.
    if (!fs::remove(scan.path, error) && error) return spoolFailure(scan.path, "cannot remove: " + error.message());
    return {};
}

}  // namespace veltrix
