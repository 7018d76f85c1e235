// Reads a saved Veltrix report back into the model: the page as this program
// writes it (Windows-1252, CR LF), with LF line ends, or saved again by a
// browser as UTF-8.
#pragma once

#include <string>
#include <string_view>

#include "core/result.h"
#include "data/report_model.h"

namespace veltrix::data {

// Larger files are refused before they are read: a report of a big machine
// is well under a megabyte.
inline constexpr std::size_t kMaxReportBytes = 64u * 1024 * 1024;

// A page that is not a Veltrix report, or one cut short, is a failure that
// says which.
Result<Report> ParseReport(std::string_view bytes);

// Reads and parses the file; a missing or unreadable file is a failure naming it.
Result<Report> ReadReportFile(const std::string& path);

// The whole file as bytes, refused when it is larger than `limit`.
Result<std::string> ReadWholeFile(const std::string& path, std::size_t limit);

}  // namespace veltrix::data
