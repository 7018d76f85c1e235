#include "data/load_input.h"

#include <cctype>
#include <ctime>
#include <filesystem>

#include "app/scan_driver.h"
#include "core/timestamp.h"
#include "data/report_identity.h"
#include "data/report_reader.h"
#include "providers/snapshot/snapshot_source.h"
#include "report/encoding.h"
#include "wmi/table_service.h"

namespace veltrix::data {

namespace {

// Snapshots of real machines stay far below this; it keeps a hostile file
// from being read whole into memory.
constexpr std::size_t kMaxInputBytes = 256u * 1024 * 1024;

// The report's lines, encoded as the file would be, into a string the caller
// keeps. The page stops growing at the size the reader accepts: a snapshot
// whose page would be larger cannot be read back, so the scan writes no
// further and the caller refuses it.
class CapturedReport final : public ReportStream {
public:
    CapturedReport(Messages& messages, std::string& sink, std::size_t limit, bool& overflowed)
        : ReportStream(messages), sink_(sink), limit_(limit), overflowed_(overflowed) {}
    Status writeLine(std::string_view utf8) override {
        if (overflowed_) return tooLarge();
        appendCp1252(sink_, utf8);
        sink_ += "\r\n";
        if (sink_.size() > limit_) {
            overflowed_ = true;
            sink_.clear();
            sink_.shrink_to_fit();
            return tooLarge();
        }
        return {};
    }
    Status close() override { return {}; }

private:
    static Failure tooLarge() {
        return Failure{failure_code::kInvalidArgument, "the report is larger than the reader accepts"};
    }
    std::string& sink_;
    std::size_t limit_;
    bool& overflowed_;
};

// No windows, no files: the scan writes into memory and finds none of this
// computer's factory files or tools, since the snapshot carries none.
class InMemoryPlatform final : public Platform {
public:
    InMemoryPlatform(std::string& sink, DateTime now, std::size_t pageLimit)
        : sink_(sink), now_(now), pageLimit_(pageLimit) {}
    bool overflowed() const { return overflowed_; }
    std::string programFolder() const override { return "memory"; }
    std::string pathSeparator() const override { return "/"; }
    std::string systemDrive() const override { return "memory:/"; }
    bool fileExists(const std::string& path) const override { return path == programFolder() + "/" + report_; }
    Status createEmptyFile(const std::string&) override { return {}; }
    Result<std::unique_ptr<ReportStream>> openReport(const std::string&, Messages& messages) override {
        sink_.clear();
        overflowed_ = false;
        return std::unique_ptr<ReportStream>(
            std::make_unique<CapturedReport>(messages, sink_, pageLimit_, overflowed_));
    }
    Result<std::unique_ptr<LineReader>> openTextFile(const std::string& path) override {
        return Failure{failure_code::kFileError, path + ": not found"};
    }
    Result<int> getAttributes(const std::string& path) const override {
        return Failure{failure_code::kFileError, path + ": not found"};
    }
    Status setAttributes(const std::string& path, int) override {
        return Failure{failure_code::kFileError, path + ": not found"};
    }
    Status startProcess(const std::string& program, const std::string&) override {
        return Failure{failure_code::kFileError, program + ": not found"};
    }
    Status openWithShell(const std::string&) override { return {}; }
    DateTime now() const override { return now_; }

    void setReportName(std::string name) { report_ = std::move(name); }

private:
    std::string& sink_;
    DateTime now_;
    std::string report_;
    std::size_t pageLimit_;
    bool overflowed_ = false;
};

bool looksLikeJson(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    for (char c : bytes) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        return c == '{';
    }
    return false;
}

std::string sizeText(std::size_t bytes) {
    return bytes % (1024 * 1024) == 0 ? std::to_string(bytes / (1024 * 1024)) + " MiB"
                                      : std::to_string(bytes) + " bytes";
}

// The report name the in-memory scan writes: the snapshot's file name
// without its folder and extension.
std::string reportNameFor(const std::string& path) {
    std::string stem = std::filesystem::path(path).stem().string();
    return (stem.empty() ? std::string("snapshot") : stem) + ".htm";
}

}  // namespace

namespace {

// The in-memory scan of a loaded snapshot, dated by when it was taken where
// it says so, else by `now`.
Result<std::string> scanToPage(snapshot::SnapshotSource& source, const std::string& name, const DateTime& now,
                               const Locale& locale, std::size_t pageLimit = kMaxReportBytes) {
    wmi::TableService service(source);
    std::string page;
    InMemoryPlatform platform(page, now, pageLimit);
    WindowlessUi ui;
    FixedCheckBoxes boxes(true, true);
    ScanState state;
    state.reportName = reportNameFor(name);
    platform.setReportName(state.reportName);
    ScanServices services{ui, platform, service, locale, boxes, false};
    if (source.takenAt()) services.scanTime = source.takenAt()->local;
    // A scan that ends with an error still writes the whole page, the
    // failures in its "Error" rows, as a real scan does.
    if (RunScan(state, services) == ScanOutcome::CouldNotCreate) {
        return Failure{failure_code::kFileError, name + ": the in-memory scan could not start"};
    }
    if (platform.overflowed()) {
        return Failure{failure_code::kInvalidArgument,
                       name + ": the report of this snapshot would be larger than " + sizeText(pageLimit) +
                           ", more than a report may hold"};
    }
    return page;
}

}  // namespace

Result<std::string> ScanSnapshotToPage(std::string_view json, const std::string& name, const DateTime& now,
                                       const Locale& locale, std::size_t pageLimit) {
    auto source = snapshot::SnapshotSource::parse(json, name);
    if (!source) return source.failure();
    return scanToPage(**source, name, now, locale, pageLimit);
}

Result<Report> LoadInputBytes(std::string_view bytes, const std::string& name, const DateTime& now,
                              const Locale& locale) {
    if (looksLikeJson(bytes)) {
        auto source = snapshot::SnapshotSource::parse(bytes, name);
        if (!source) return source.failure();
        auto page = scanToPage(**source, name, now, locale);
        if (!page) return page.failure();
        auto report = ParseReport(*page);
        if (!report) return Failure{report.failure().number, name + ": " + report.failure().description};
        const auto& machine = (*source)->machine();
        report->machine = machine ? UsableIdentity(*machine) : IdentityShownBy(*report);
        report->takenAt = (*source)->takenAtText().value_or(std::string());
        report->timeKnown = (*source)->takenAt().has_value();
        return report;
    }
    auto report = ParseReport(bytes);
    if (!report) return Failure{report.failure().number, name + ": " + report.failure().description};
    report->machine = IdentityShownBy(*report);
    return report;
}

Result<Report> LoadInput(const std::string& path, const Locale& locale) {
    auto bytes = ReadWholeFile(path, kMaxInputBytes);
    if (!bytes) return bytes.failure();
    return LoadInputBytes(*bytes, path, LocalNow(), locale);
}

Result<Report> LoadInput(const std::string& path) { return LoadInput(path, EnglishLocale()); }

}  // namespace veltrix::data
