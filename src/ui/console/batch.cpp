#include "ui/console/batch.h"

#include <unistd.h>

#include <filesystem>
#include <optional>
#include <sstream>

#include <CLI/CLI.hpp>

#include "app/name_characters.h"
#include "app/scan_driver.h"
#include "core/trace.h"
#include "core/version.h"
#include "providers/snapshot/recorder.h"
#include "providers/snapshot/snapshot_source.h"
#include "report/text.h"
#include "ui/console/compare_command.h"
#include "ui/console/console_ui.h"
#include "ui/console/export_command.h"
#include "wmi/table_service.h"

namespace veltrix {

namespace {

struct Options {
    bool batch = false;
    bool version = false;
    std::string name;
    std::string comment;
    bool noHotfix = false;
    bool noSoftware = false;
    std::string outputDir = ".";
    std::string snapshot;
    std::string saveSnapshot;
    std::string sysroot;
    bool open = false;
    bool trace = false;
};

// A snapshot's source and the service over it, kept alive together.
struct SnapshotService {
    std::unique_ptr<snapshot::SnapshotSource> source;
    std::unique_ptr<wmi::TableService> service;
};

void printLine(std::FILE* f, const std::string& text) {
    std::fputs(text.c_str(), f);
    std::fputc('\n', f);
}

// Why --sysroot cannot be used as given; nullopt when it can.
std::optional<std::string> checkSysroot(const Options& o, const BatchEnvironment& environment) {
    if (!environment.sysrootService) return "--sysroot is only available on Linux";
    if (!o.snapshot.empty()) return "--sysroot and --snapshot cannot be used together";
    if (o.sysroot.empty()) return "--sysroot needs a directory";
    std::error_code error;
    const auto status = std::filesystem::status(o.sysroot, error);
    if (!std::filesystem::exists(status)) return "--sysroot " + o.sysroot + ": no such directory";
    if (!std::filesystem::is_directory(status)) return "--sysroot " + o.sysroot + ": not a directory";
    return std::nullopt;
}

std::string describeCharacter(char c) { return c == ' ' ? std::string("a space") : "'" + std::string(1, c) + "'"; }

}  // namespace

int runBatch(int argc, char** argv, BatchEnvironment& environment, std::FILE* out, std::FILE* err) {
    // The subcommands that read reports as data take over the whole command line.
    if (argc > 1 && std::string_view(argv[1]) == "export") return runExport(argc - 1, argv + 1, environment, out, err);
    if (argc > 1 && std::string_view(argv[1]) == "compare") return runCompare(argc - 1, argv + 1, environment, out, err);
    Options o;
    CLI::App app{"Veltrix " + std::string(kVersionText) +
                 ": hardware and software inventory of this computer as one HTML page.\n"
                 "Without arguments the desktop windows open; with --batch the same scan runs without windows."};
    app.description(app.get_description() + "\nSaved reports and snapshots as data: see veltrix export --help and veltrix compare --help.");
    app.set_version_flag("--version", std::string("Veltrix ") + kVersionText);
    app.add_flag("--batch", o.batch, "Scan without windows");
    app.add_option("--name", o.name, "Report name; the report is NAME.htm")
        ->check([](const std::string& name) -> std::string {
            if (name.empty()) return "the name must not be empty";
            if (auto c = firstRefusedNameCharacter(name)) {
                return "the name must not hold " + describeCharacter(*c) +
                       " (refused: \" \\ / : * ? < > | and space)";
            }
            return {};
        });
    app.add_option("--comment", o.comment, "Comment shown under the designation");
    app.add_flag("--no-hotfix", o.noHotfix, "Leave out the installed updates");
    app.add_flag("--no-software", o.noSoftware, "Leave out the installed software");
    app.add_option("--output-dir", o.outputDir, "Folder for the report (default: the current folder)");
    app.add_option("--snapshot", o.snapshot, "Scan the data of a snapshot file instead of this computer");
    app.add_option("--save-snapshot", o.saveSnapshot,
                   "Also write what the scan read into a snapshot file, to replay it anywhere");
    CLI::Option* sysroot = app.add_option("--sysroot", o.sysroot,
                   "Scan the captured system below DIR (its sys, proc, etc and var folders) instead of this "
                   "computer (Linux only)")
        ->option_text("DIR");
    app.add_flag("--open", o.open, "Open the report in the default viewer when done");
    app.add_flag("--trace", o.trace,
                 "Print one line per data-source operation on standard error (also VELTRIX_TRACE=1)");
    if (!environment.helpNotes.empty()) app.footer(environment.helpNotes);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        std::ostringstream normal, failure;
        int code = app.exit(e, normal, failure);
        std::fputs(normal.str().c_str(), out);
        std::fputs(failure.str().c_str(), err);
        return code == 0 ? kExitOk : kExitBadInput;
    }
    if (!o.batch) {
        printLine(err, "veltrix: options need --batch (run without arguments for the desktop windows; see --help)");
        return kExitBadInput;
    }
    if (o.name.empty()) {
        printLine(err, "veltrix: --batch needs --name NAME");
        return kExitBadInput;
    }

    // The trace lines go where the batch's messages go, for this run only.
    struct TraceScope {
        TraceScope(bool wanted, std::FILE* f) : on(wanted) {
            if (on) trace::setSink(trace::writeTo(f));
        }
        ~TraceScope() {
            if (on) trace::disable();
        }
        bool on;
    } traceScope(o.trace || trace::requestedByEnvironment(), err);

    // A bad snapshot or system root is refused before any report file is
    // touched.
    std::shared_ptr<wmi::Service> service;
    if (sysroot->count() > 0) {
        if (auto refused = checkSysroot(o, environment)) {
            printLine(err, "veltrix: " + *refused);
            return kExitBadInput;
        }
        auto captured = environment.sysrootService(o.sysroot);
        if (!captured) {
            printLine(err, "veltrix: " + captured.failure().description);
            return kExitScanFailed;
        }
        service = std::move(*captured);
    } else if (!o.snapshot.empty()) {
        auto loaded = snapshot::SnapshotSource::load(o.snapshot);
        if (!loaded) {
            printLine(err, "veltrix: " + loaded.failure().description);
            return kExitBadInput;
        }
        auto holder = std::make_shared<SnapshotService>();
        holder->source = std::move(*loaded);
        holder->service = std::make_unique<wmi::TableService>(*holder->source);
        service = std::shared_ptr<wmi::Service>(holder, holder->service.get());
    } else {
        auto live = environment.liveService();
        if (!live) {
            printLine(err, "veltrix: " + live.failure().description);
            return kExitScanFailed;
        }
        service = std::move(*live);
    }

    std::unique_ptr<snapshot::RecordingService> recorder;
    wmi::Service* scanService = service.get();
    if (!o.saveSnapshot.empty()) {
        std::string origin = "veltrix " + std::string(kVersionText) + " --save-snapshot";
        if (!o.sysroot.empty()) origin += " --sysroot " + o.sysroot;
        recorder = std::make_unique<snapshot::RecordingService>(
            *service, o.snapshot.empty() ? origin : "replayed from " + o.snapshot);
        scanService = recorder.get();
    }

    // The success message names the report by its full path.
    std::error_code ignored;
    std::string folder = std::filesystem::absolute(o.outputDir, ignored).lexically_normal().string();
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    auto platform = environment.makePlatform(folder.empty() ? o.outputDir : folder);
    auto locale = environment.makeLocale();
    ConsoleUi ui(err, ::isatty(::fileno(err)) == 1);
    FixedCheckBoxes boxes(!o.noHotfix, !o.noSoftware);

    ScanState state;
    state.reportName = o.name + ".htm";
    std::string comment = o.comment;
    state.comment = EncodeHtmlChars(comment);

    // As the name dialog does: make the empty file; the scan reports it when
    // that did not work.
    platform->createEmptyFile(reportPath(*platform, state));

    ScanServices services{ui, *platform, *scanService, *locale, boxes, o.open};
    ScanOutcome outcome = RunScan(state, services);

    int code = outcome == ScanOutcome::Saved ? kExitOk : kExitScanFailed;
    if (recorder) {
        Status saved = recorder->save(o.saveSnapshot);
        if (!saved.ok()) {
            printLine(err, "veltrix: " + saved.failure.description);
            code = kExitScanFailed;
        }
    }
    return code;
}

}  // namespace veltrix
