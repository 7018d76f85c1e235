// A comparison written out: as plain text for the terminal, as JSON for
// scripts, and as a page in the report's own style for a repair ticket.
#pragma once

#include <string>

#include "data/report_compare.h"
#include "data/report_export.h"

namespace veltrix::data {

// Raised whenever the JSON shape of a comparison changes.
inline constexpr int kCompareJsonVersion = 1;

std::string CompareAsText(const NamedReport& before, const NamedReport& after, const Comparison& comparison);
std::string CompareAsJson(const NamedReport& before, const NamedReport& after, const Comparison& comparison);
// Windows-1252 with CR LF line ends, like a report.
std::string CompareAsHtml(const NamedReport& before, const NamedReport& after, const Comparison& comparison);

}  // namespace veltrix::data
