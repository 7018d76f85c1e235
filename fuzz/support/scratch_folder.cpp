#include "support/scratch_folder.h"

#include <cstdlib>
#include <string>
#include <system_error>

namespace veltrix::fuzzing {

namespace fs = std::filesystem;

namespace {

fs::path& folder() {
    static fs::path path;
    return path;
}

void removeFolder() {
    std::error_code ec;
    if (!folder().empty()) fs::remove_all(folder(), ec);
}

}  // namespace

const fs::path& freshScratchFolder() {
    if (folder().empty()) {
        std::string pattern = (fs::temp_directory_path() / "veltrix-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        folder() = pattern;
        std::atexit(removeFolder);
    }
    std::error_code ec;
    // remove_all does not follow links, so a link to "/" in the tree is
    // removed, never what it points at.
    for (const auto& entry : fs::directory_iterator(folder(), ec)) fs::remove_all(entry.path(), ec);
    return folder();
}

}  // namespace veltrix::fuzzing
