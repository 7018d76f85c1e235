// The five writer operations. None of them encodes or checks what it is
// given. Each writes its lines one by one, going on after a failed line, and
// reports its own failure in a message box; none touches the scan's pending
// error.
#pragma once

#include <string_view>

#include "report/report_stream.h"

namespace veltrix {

void WriteHeader(std::string_view title, std::string_view comment, ReportStream& out);
void WriteFooter(ReportStream& out);
void WriteTableHead(std::string_view title, ReportStream& out);
void WriteRow(std::string_view label, std::string_view value, ReportStream& out);
void WriteTableFoot(ReportStream& out);

}  // namespace veltrix
