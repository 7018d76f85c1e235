// Report streams: the report file on disk, encoded as Windows-1252 with
// numeric character references for everything else, and one in memory.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/replacing_file.h"
#include "core/result.h"
#include "core/messages.h"
#include "core/report_stream.h"

namespace veltrix {

// A report file on disk: the lines go into `file`, which replaces the old
// report on close() only when every line was written.
std::unique_ptr<ReportStream> reportFileStream(std::unique_ptr<ReplacingFile> file, Messages& messages);

// Lines collected in memory, already encoded; for tests and benchmarks.
class MemoryReportStream final : public ReportStream {
public:
    explicit MemoryReportStream(Messages& messages) : ReportStream(messages) {}
    Status writeLine(std::string_view utf8) override;
    Status close() override { return {}; }
    const std::string& bytes() const { return bytes_; }
    // Makes every further write fail (a full disk).
    void failWrites(bool fail) { failWrites_ = fail; }

private:
    std::string bytes_;
    bool failWrites_ = false;
};

}  // namespace veltrix
