// The report model as JSON (the documented, versioned shape) and as CSV (one
// line per row), for scripts and spreadsheets.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "data/report_model.h"

namespace veltrix::data {

// Raised whenever the JSON shape changes in a way a reader would notice.
inline constexpr int kReportJsonVersion = 1;

struct NamedReport {
    std::string file;  // the input as given on the command line
    Report report;
};

// One document for one input, an array of documents for several.
std::string ExportJson(const std::vector<NamedReport>& inputs);

// RFC 4180: a header line, then file, section, item, label, value per row,
// CR LF line ends, fields quoted where they need it.
std::string ExportCsv(const std::vector<NamedReport>& inputs);

// `text` as one CSV field.
std::string CsvField(std::string_view text);

}  // namespace veltrix::data
