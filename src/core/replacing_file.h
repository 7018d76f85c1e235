// A file that replaces its final one only when it is complete: written to a
// temporary file in the same folder, then moved over the final name in one
// step. A full disk or any other failure never destroys the old file and
// never leaves half a file behind.
#pragma once

#include <string_view>

#include "core/result.h"

namespace veltrix {

class ReplacingFile {
public:
    // Without a successful commit() the temporary file is removed and the
    // old file stays as it was.
    virtual ~ReplacingFile() = default;
    // A failure names the final path and the system's reason; once a write
    // failed, commit() fails too.
    virtual Status write(std::string_view bytes) = 0;
    // Flushes the data to the disk, closes the file and moves it over the
    // final path.
    virtual Status commit() = 0;
};

}  // namespace veltrix
