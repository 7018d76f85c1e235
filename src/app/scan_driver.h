// RunScan: one report, every section in its fixed order, the progress window,
// the outcome message and the report opened in the default viewer.
#pragma once

#include <string>
#include <optional>
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
    // When set, receives the titles of the sections that wrote an "Error" row.
    std::vector<std::string>* sectionsWithErrors = nullptr;
    // The time the report is dated by: a replayed snapshot's own, else the
    // platform's clock when the scan reads it.
    std::optional<DateTime> scanTime = {};
    // When set, receives the time the report was dated by.
    std::optional<DateTime>* usedScanTime = nullptr;
};

struct ScanStep {
    const char* name;
    Collector run;
    int progress;  // -1: no progress update after this step
    // The classes the step queries (root\cimv2), so that a slow source can
    // start on them before the step runs.
    std::vector<std::string> classes = {};
    // The check box that switches the step off, when there is one.
    int (CheckBoxes::*switchedBy)() const = nullptr;
    // Whether the step reads the registry, which a source may start on
    // early too.
    bool readsRegistry = false;
};

// Steps between the header and the footer, in report order.
const std::vector<ScanStep>& scanSteps();

// The classes the steps that will run query, in the order of first use.
std::vector<std::string> classesToQuery(const CheckBoxes& checkBoxes);
// Whether a step that will run reads the registry.
bool registryToRead(const CheckBoxes& checkBoxes);

// The report path: program folder, separator, report name (no test for a
// trailing separator).
std::string reportPath(const Platform& platform, const ScanState& state);

ScanOutcome RunScan(const ScanState& state, ScanServices& services);

// Hourglass, the shell's "Open", default pointer; the shell's result is not
// examined.
void OpenReportInViewer(Ui& ui, Platform& platform, const std::string& path);

}  // namespace veltrix
