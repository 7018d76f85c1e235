// Everything a collector may touch during one scan.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/check_boxes.h"
#include "core/platform.h"
#include "core/result.h"
#include "core/locale.h"
#include "report/report_stream.h"
#include "wmi/service.h"

namespace veltrix {

// The program's one error record. Collectors empty it when they start and
// when they return; writer operations never touch it.
class PendingError {
public:
    void clear() { failure_ = {}; }
    void set(Failure failure) { failure_ = std::move(failure); }
    bool any() const { return failure_.number > 0; }
    const Failure& failure() const { return failure_; }

private:
    Failure failure_;
};

struct ScanContext {
    ReportStream& report;
    wmi::Service& wmi;
    PendingError& pending;
    const Locale& locale;
    Platform& platform;
    const CheckBoxes& checkBoxes;
    std::string reportName;  // typed name + ".htm"
    std::string comment;     // already encoded; empty means none
    // The title of the table written last, and the titles of the tables that
    // got an "Error" row, in report order, each once.
    std::string currentSection = {};
    std::vector<std::string> sectionsWithErrors = {};
    // The time the report is dated by. Given by a replay; otherwise set from
    // the platform's clock by the first section that reads it, so that a
    // snapshot recorded alongside carries the report's own time.
    std::optional<DateTime> scanTime = {};

    Messages& messages() { return report.messages(); }
};

using Collector = void (*)(ScanContext&);

}  // namespace veltrix
