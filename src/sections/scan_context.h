// Everything a collector may touch during one scan.
#pragma once

#include <string>

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

// The two optional inventories' switches, read when their sections run.
class CheckBoxes {
public:
    virtual ~CheckBoxes() = default;
    virtual int hotcheck() const = 0;  // 1 = ticked
    virtual int swcheck() const = 0;
};

class FixedCheckBoxes final : public CheckBoxes {
public:
    FixedCheckBoxes(bool hotfix, bool software) : hot_(hotfix ? 1 : 0), sw_(software ? 1 : 0) {}
    int hotcheck() const override { return hot_; }
    int swcheck() const override { return sw_; }

private:
    int hot_, sw_;
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

    Messages& messages() { return report.messages(); }
};

using Collector = void (*)(ScanContext&);

}  // namespace veltrix
