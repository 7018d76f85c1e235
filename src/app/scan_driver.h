// RunScan: one report, every section in its fixed order, the progress window,
// the outcome message and the report opened in the default viewer.
#pragma once

#include <string>
#include <vector>

#include "app/scan_state.h"
#include "app/ui.h"
#include "core/platform.h"
#include "core/locale.h"
#include "sections/scan_context.h"
#include "wmi/service.h"

namespace veltrix {

enum class ScanOutcome { Saved, CouldNotCreate, EndedWithError };

struct ScanServices {
    Ui& ui;
    Platform& platform;
    wmi::Service& wmi;
    const Locale& locale;
    const CheckBoxes& checkBoxes;
    // The desktop opens the finished report; the batch front end only when asked.
    bool openInViewer = true;
};

struct ScanStep {
    const char* name;
    Collector run;
    int progress;  // -1: no progress update after this step
};

// Steps between the header and the footer, in report order.
const std::vector<ScanStep>& scanSteps();

// The report path: program folder, separator, report name (no test for a
// trailing separator).
std::string reportPath(const Platform& platform, const ScanState& state);

ScanOutcome RunScan(const ScanState& state, ScanServices& services);

// Hourglass, the shell's "Open", default pointer; the shell's result is not
// examined.
void OpenReportInViewer(Ui& ui, Platform& platform, const std::string& path);

}  // namespace veltrix
