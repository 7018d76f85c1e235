#include "ui/console/batch.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/machine_identity_reader.h"
#include "app/name_characters.h"
#include "app/scan_driver.h"
#include "core/timestamp.h"
#include "core/trace.h"
#include "core/utf8_path.h"
#include "core/version.h"
#include "providers/snapshot/recorder.h"
#include "providers/snapshot/snapshot_source.h"
#include "report/text.h"
#include "ui/console/command_line.h"
#include "ui/console/compare_command.h"
#include "ui/console/connection_watch.h"
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
    long long wmiTimeoutSeconds = 0;
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

std::string describeCharacter(char c) {
    if (c == ' ') return "a space";
    if (isControlCharacter(static_cast<unsigned char>(c))) {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", static_cast<unsigned>(static_cast<unsigned char>(c)));
        return std::string("a control character (") + code + ")";
    }
    return "'" + std::string(1, c) + "'";
}

// File systems take names of at most 255 bytes; ".htm" takes four of them.
constexpr std::size_t kLongestName = 251;

// An option given with an empty value is a mistake, not "not given": an empty
// --output-dir would mean the root folder, an empty --snapshot the live machine.
std::string notEmpty(const std::string& value) { return value.empty() ? "the value must not be empty" : ""; }

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : ", ") + (name.empty() ? "(untitled)" : name);
    return text;
}

}  // namespace

int runBatch(int argc, char** argv, BatchEnvironment& environment, std::FILE* out, std::FILE* err) {
    // The subcommands that read reports as data take over the whole command line.
    if (argc > 1 && std::string_view(argv[1]) == "export") return runExport(argc - 1, argv + 1, environment, out, err);
    if (argc > 1 && std::string_view(argv[1]) == "compare") return runCompare(argc - 1, argv + 1, environment, out, err);
    if (argc > 1 && std::string_view(argv[1]) == "store") {
        if (environment.storeCommand) return environment.storeCommand(argc - 1, argv + 1, out, err);
        printLine(err, "veltrix: the fleet store is not part of this program");
        return kExitBadInput;
    }
    if (argc > 1 && std::string_view(argv[1]) == "agent") {
        if (environment.agentCommand) return environment.agentCommand(argc - 1, argv + 1, out, err);
        printLine(err, "veltrix: the agent is not part of this program");
        return kExitBadInput;
    }
    if (argc > 1 && std::string_view(argv[1]) == "server") {
        if (environment.serverCommand) return environment.serverCommand(argc - 1, argv + 1, out, err);
        printLine(err, "veltrix: the fleet server is not part of this program; it runs on Linux");
        return kExitBadInput;
    }
    Options o;
    CLI::App app{"Veltrix " + std::string(kVersionText) +
                 ": hardware and software inventory of this computer as one HTML page.\n"
                 "Without arguments the desktop windows open; with --batch the same scan runs without windows."};
    app.description(app.get_description() + "\nSaved reports and snapshots as data: see veltrix export --help and veltrix compare --help."
                                               "\nReporting to a fleet server: see veltrix agent --help.");
    app.set_version_flag("--version", std::string("Veltrix ") + kVersionText);
    app.add_flag("--batch", o.batch, "Scan without windows");
    app.add_option("--name", o.name, "Report name; the report is NAME.htm")
        ->check([](const std::string& name) -> std::string {
            if (name.empty()) return "the name must not be empty";
            if (auto c = firstRefusedNameCharacter(name)) {
                return "the name must not hold " + describeCharacter(*c) +
                       " (refused: \" \\ / : * ? < > |, space and control characters)";
            }
            if (name.size() > kLongestName) {
                return "the name is too long (" + std::to_string(name.size()) + " bytes, at most " +
                       std::to_string(kLongestName) + ")";
            }
            return {};
        });
    app.add_option("--comment", o.comment, "Comment shown under the designation");
    app.add_flag("--no-hotfix", o.noHotfix, "Leave out the installed updates");
    app.add_flag("--no-software", o.noSoftware, "Leave out the installed software");
    app.add_option("--output-dir", o.outputDir, "Folder for the report (default: the current folder)")
        ->check(notEmpty);
    app.add_option("--snapshot", o.snapshot, "Scan the data of a snapshot file instead of this computer")
        ->check(notEmpty);
    app.add_option("--save-snapshot", o.saveSnapshot,
                   "Also write what the scan read into a snapshot file, to replay it anywhere")
        ->check(notEmpty);
    CLI::Option* sysroot = app.add_option("--sysroot", o.sysroot,
                   "Scan the captured system below DIR (its sys, proc, etc and var folders) instead of this "
                   "computer (Linux only)")
        ->option_text("DIR");
    app.add_flag("--open", o.open, "Open the report in the default viewer when done");
    app.add_flag("--trace", o.trace,
                 "Print one line per data-source operation on standard error (also VELTRIX_TRACE=1)");
    if (environment.offersWmiTimeout) {
        o.wmiTimeoutSeconds = std::chrono::duration_cast<std::chrono::seconds>(environment.wmiTimeout).count();
        app.add_option("--wmi-timeout", o.wmiTimeoutSeconds,
                       "Longest wait for one WMI class; a class still not read then shows as an error and the "
                       "scan goes on (default: " + std::to_string(o.wmiTimeoutSeconds) + ")")
            ->option_text("SECONDS")
            ->check(CLI::Range(1LL, 86400LL));
    }
    if (!environment.helpNotes.empty()) app.footer(environment.helpNotes);

    if (auto answered = parseArguments(app, argc, argv, out, err)) return *answered ? kExitOk : kExitBadInput;
    if (!o.batch) {
        printLine(err, "veltrix: options need --batch (run without arguments for the desktop windows; see --help)");
        return kExitBadInput;
    }
    if (o.name.empty()) {
        printLine(err, "veltrix: --batch needs --name NAME");
        return kExitBadInput;
    }
    if (environment.offersWmiTimeout) environment.wmiTimeout = std::chrono::seconds(o.wmiTimeoutSeconds);

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
    const snapshot::SnapshotSource* replayed = nullptr;
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
        replayed = holder->source.get();
        if (!replayed->takenAt()) {
            trace::line("snapshot: " + o.snapshot + " does not say when it was taken; the report is dated now");
        }
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

    ConnectionWatch watch(*service);
    std::unique_ptr<snapshot::RecordingService> recorder;
    wmi::Service* scanService = &watch;
    if (!o.saveSnapshot.empty()) {
        std::string origin = "veltrix " + std::string(kVersionText) + " --save-snapshot";
        if (!o.sysroot.empty()) origin += " --sysroot " + o.sysroot;
        recorder = std::make_unique<snapshot::RecordingService>(
            watch, o.snapshot.empty() ? origin : "replayed from " + o.snapshot);
        scanService = recorder.get();
    }

    // The success message names the report by its full path.
    std::error_code ignored;
    std::string folder = utf8FromPath(std::filesystem::absolute(pathFromUtf8(o.outputDir), ignored).lexically_normal());
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    if (folder.empty()) folder = o.outputDir;
    // The root folder: the separator that joins it with the name is its own.
    if (folder == "/") folder.clear();
    auto platform = environment.makePlatform(folder);
    auto locale = environment.makeLocale();
    ConsoleUi ui(err, environment.errorIsTerminal ? *environment.errorIsTerminal : ::isatty(::fileno(err)) == 1);
    FixedCheckBoxes boxes(!o.noHotfix, !o.noSoftware);

    ScanState state;
    state.reportName = o.name + ".htm";
    std::string comment = o.comment;
    state.comment = EncodeHtmlChars(comment);

    // As the name dialog does: make the file when it is not there (an old
    // report stays until the new one is complete); the scan reports it when
    // that did not work, and the line here says where and why.
    const std::string path = reportPath(*platform, state);
    const bool existed = platform->fileExists(path);
    if (Status created = platform->createEmptyFile(path); !created.ok()) {
        printLine(err, "veltrix: " + created.failure.description);
    }

    std::vector<std::string> sectionsWithErrors;
    ScanServices services{ui, *platform, *scanService, *locale, boxes, o.open, &sectionsWithErrors};
    // A replayed snapshot is dated by when it was taken, so that its report
    // reads as the one written on the machine.
    if (replayed && replayed->takenAt()) services.scanTime = replayed->takenAt()->local;
    std::optional<DateTime> scanTime;
    services.usedScanTime = &scanTime;
    ScanOutcome outcome = RunScan(state, services);

    int code = outcome == ScanOutcome::Saved ? kExitOk : kExitScanFailed;
    if (outcome != ScanOutcome::Saved && !existed) {
        // No report came of it: the empty file made above goes again.
        std::error_code ignoredError;
        const std::filesystem::path file = pathFromUtf8(path);
        if (std::filesystem::is_regular_file(file, ignoredError) && std::filesystem::file_size(file, ignoredError) == 0) {
            std::filesystem::remove(file, ignoredError);
        }
    }
    if (outcome == ScanOutcome::Saved && watch.noneWorked()) {
        printLine(err, "veltrix: the scan reached no data source (every connection failed: " +
                           watch.lastFailure().description + "); the report holds only errors");
        code = kExitScanFailed;
    } else if (outcome == ScanOutcome::Saved && !sectionsWithErrors.empty()) {
        printLine(err, "veltrix: sections with errors: " + joined(sectionsWithErrors));
    }
    if (recorder) {
        if (replayed && replayed->takenAtText()) {
            recorder->setTakenAt(*replayed->takenAtText());
        } else if (scanTime) {
            recorder->setTakenAt(FormatIso8601({*scanTime, LocalUtcOffsetMinutes(*scanTime)}));
        }
        recorder->setMachine(replayed && replayed->machine() ? *replayed->machine() : ReadMachineIdentity(watch));
        Status saved = recorder->save(*platform, o.saveSnapshot);
        if (!saved.ok()) {
            printLine(err, "veltrix: " + saved.failure.description);
            code = kExitScanFailed;
        }
    }
    return code;
}

}  // namespace veltrix
