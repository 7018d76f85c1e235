// The spool: compressed scans that are not yet at the server, one file each,
// delivered oldest first. Every scan goes in before it is sent, so that a
// failed or cut upload, or a killed agent, loses nothing; the server's
// digest makes a repeated upload harmless.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform.h"
#include "core/result.h"

namespace veltrix {

struct SpooledScan {
    std::string path;
    std::string name;  // the file name: when it was spooled, in UTC, then a random tag
};

class Spool {
public:
    // Scans the spool keeps at most; more would only grow the folder of a
    // computer whose server is gone for good.
    static constexpr std::size_t kDefaultCapacity = 50;

    Spool(std::string folder, Platform& platform, std::size_t capacity = kDefaultCapacity);

    // Adds one compressed scan, having made room by dropping the oldest;
    // each dropped scan is named in `dropped`. The new scan's file is
    // complete before its name appears.
    Result<SpooledScan> add(std::string_view gzipBody, std::chrono::system_clock::time_point when,
                            std::vector<std::string>& dropped);
    // Oldest first; only complete scans, never a file being written.
    Result<std::vector<SpooledScan>> list() const;
    Result<std::string> read(const SpooledScan& scan) const;
    Status remove(const SpooledScan& scan);

    const std::string& folder() const { return folder_; }

private:
    std::string folder_;
    Platform& platform_;
    std::size_t capacity_;
};

// A spool file's name for a scan spooled at `when`: sorts by time, then by
// `tag` for two in the same microsecond.
std::string spoolFileName(std::chrono::system_clock::time_point when, unsigned tag);

}  // namespace veltrix
