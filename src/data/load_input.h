// One entry for everything that reads inputs as reports: a saved report
// (.htm) or a snapshot (.json), told apart by their content, not their name.
#pragma once

#include <string>
#include <string_view>

#include "core/result.h"
#include "data/report_model.h"
#include "data/report_reader.h"
#include "core/locale.h"

namespace veltrix::data {

// A snapshot is scanned in memory with the same collectors as a real scan
// (no file is written, no factory file is looked for on this computer), with
// English month names, dated by when it was taken (this computer's clock for
// a snapshot that does not say); the page it gives is then read like a saved
// report. The report's machine identity is the snapshot's own record, or
// what the page shows.
Result<Report> LoadInput(const std::string& path);
// The same with the month names, decimal separator and date format of
// `locale`, so that a snapshot of this computer reads like its own report.
Result<Report> LoadInput(const std::string& path, const Locale& locale);

// The same for bytes already read; `name` only serves the messages. `now`
// stands in for the clock of the in-memory scan of a snapshot that does not
// say when it was taken.
Result<Report> LoadInputBytes(std::string_view bytes, const std::string& name, const DateTime& now,
                              const Locale& locale);

// The page an in-memory scan of a snapshot writes (Windows-1252, CR LF),
// dated like LoadInputBytes's. A page that would grow past `pageLimit` (by
// default what the report reader accepts) is refused as soon as it does, so
// a small hostile file cannot make a page of gigabytes.
Result<std::string> ScanSnapshotToPage(std::string_view json, const std::string& name, const DateTime& now,
                                       const Locale& locale = EnglishLocale(),
                                       std::size_t pageLimit = kMaxReportBytes);


}  // namespace veltrix::data
