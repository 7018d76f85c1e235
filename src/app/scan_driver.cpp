#include "app/scan_driver.h"

#include "report/html_writer.h"

namespace veltrix {

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kDarkBlue = 0xC00000;  // blue-green-red order

// A driver step that fails is skipped and leaves its failure pending.
void keep(PendingError& pending, const Status& status) {
    if (!status.ok()) pending.set(status.failure);
}

}  // namespace

std::string reportPath(const Platform& platform, const ScanState& state) {
    return platform.programFolder() + platform.pathSeparator() + state.reportName;
}

void OpenReportInViewer(Ui& ui, Platform& platform, const std::string& path) {
    ui.setPointer(kPointerHourglass);
    platform.openWithShell(path);  // the shell's answer is not examined
    ui.setPointer(kPointerDefault);
}

ScanOutcome RunScan(const ScanState& state, ScanServices& services) {
    Ui& ui = services.ui;
    PendingError pending;
    keep(pending, ui.closeNameDialog());
    keep(pending, ui.setPointer(kPointerHourglass));
    keep(pending, ui.progressSetCaption("Veltrix"));
    keep(pending, ui.progressVisiblePicture(kWhite, kDarkBlue, false));
    keep(pending, ui.progressSetMessage("Scan is running, please wait..."));
    keep(pending, ui.progressShow());

    const std::string path = reportPath(services.platform, state);
    std::unique_ptr<ReportStream> report;
    if (services.platform.fileExists(path)) {
        auto opened = services.platform.openReport(path, ui);
        if (opened) report = std::move(*opened);
    }
    if (!report) {
        // The file the name dialog should have made is not there (or cannot be
        // opened): nothing is written and the user may try again.
        ui.progressUnload();
        ui.setPointer(kPointerDefault);
        ui.messageBox("Could not create the file...", MessageStyle::Plain);
        return ScanOutcome::CouldNotCreate;
    }

    // A slow source starts on the classes the later sections read while the
    // first sections are written, and on the registry (its provider object
    // in root\default) when the software section will read it.
    services.wmi.expectClasses(wmi::kWmiMoniker, classesToQuery(services.checkBoxes));
    if (registryToRead(services.checkBoxes)) services.wmi.expectClasses(wmi::kRegistryMoniker, {"StdRegProv"});
    ScanContext scan{*report,          services.wmi,     pending,      services.locale, services.platform,
                     services.checkBoxes, state.reportName, state.comment};
    scan.scanTime = services.scanTime;
    WriteHeader(state.reportName, state.comment, *report);
    for (const ScanStep& step : scanSteps()) {
        step.run(scan);
        if (step.progress >= 0) keep(pending, ui.progressUpdate(step.progress));
    }
    WriteFooter(*report);
    if (services.sectionsWithErrors) *services.sectionsWithErrors = scan.sectionsWithErrors;
    if (services.usedScanTime) *services.usedScanTime = scan.scanTime;

    keep(pending, report->close());
    keep(pending, ui.progressUpdate(100));
    keep(pending, ui.progressUnload());
    keep(pending, ui.setPointer(kPointerDefault));

    if (pending.any()) {
        ui.messageBox("An error occured while scanning the system - " + pending.failure().description +
                          " - Veltrix will be close",
                      MessageStyle::Critical);
        ui.unloadMainWindow();
        return ScanOutcome::EndedWithError;
    }
    ui.messageBox("The file is saved on " + path, MessageStyle::Plain, "File is saved");
    if (services.openInViewer) OpenReportInViewer(ui, services.platform, path);
    ui.unloadMainWindow();
    return ScanOutcome::Saved;
}

}  // namespace veltrix
