#include "support/whole_scan.h"

#include "app/scan_driver.h"
#include "platform/posix/posix_platform.h"
#include "report/html_writer.h"
#include "report/report_stream.h"
#include "sections/scan_context.h"

namespace veltrix::fuzzing {

namespace {

class QuietMessages final : public Messages {
public:
    void messageBox(std::string_view, MessageStyle, std::string_view) override {}
};

// The real platform services, pointed at folders that do not exist (so no
// factory file or tool of the fuzzing machine is read) and never starting
// anything.
class InertPlatform final : public PosixPlatform {
public:
    InertPlatform() : PosixPlatform("/nonexistent-veltrix-fuzz", "/nonexistent-veltrix-fuzz/") {}
    Status startProcess(const std::string&, const std::string&) override { return {}; }
    Status openWithShell(const std::string&) override { return {}; }
    DateTime now() const override { return DateTime{2024, 3, 5, 14, 7, 9}; }
};

}  // namespace

std::string scanToMemory(wmi::Service& service) {
    QuietMessages messages;
    MemoryReportStream report(messages);
    PendingError pending;
    EnglishLocale locale;
    InertPlatform platform;
    FixedCheckBoxes boxes(true, true);
    ScanContext scan{report, service, pending, locale, platform, boxes, "fuzz.htm", "fuzz"};
    WriteHeader("fuzz.htm", "fuzz", report);
    for (const ScanStep& step : scanSteps()) step.run(scan);
    WriteFooter(report);
    return report.bytes();
}

}  // namespace veltrix::fuzzing
