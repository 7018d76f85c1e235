// The report model as JSON (the documented, versioned shape) and as CSV (one
// line per row), for scripts and spreadsheets.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/locale.h"
#include "data/report_model.h"

namespace veltrix::data {

// Raised whenever the JSON shape changes in a way a reader would notice.
inline constexpr int kReportJsonVersion = 1;

struct NamedReport {
    std::string file;  // the input as given on the command line
    Report report;
};

// One document for one input, an array of documents for several. Values are
// given without the padding the page keeps around them. `locale` names the
// months the reports may be dated with besides the English ones.
std::string ExportJson(const std::vector<NamedReport>& inputs, const Locale* locale = nullptr);

// RFC 4180: a header line, then file, section, item, label, value per row,
// CR LF line ends, fields quoted where they need it.
std::string ExportCsv(const std::vector<NamedReport>& inputs);

// `text` as one CSV field.
std::string CsvField(std::string_view text);

// `text` without the spaces and tabs around it.
std::string_view TrimmedValue(std::string_view text);

// The report's "generated" time ("09-December-2026 03:05") as ISO 8601 local
// time ("2026-12-09T03:05"); nothing when it is not such a time. Month names
// are English or `locale`'s, in any case.
std::optional<std::string> ScanTimeIso(std::string_view generated, const Locale* locale = nullptr);

}  // namespace veltrix::data
