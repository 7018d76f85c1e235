#include "ui/console/batch.h"

#include <unistd.h>

#include <chrono>
#include <cctype>
#include <cerrno>
#include <cstring>
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
#include "ui/console/command_input.h"
#include "ui/console/command_line.h"
#include "ui/console/command_output.h"
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

// A name typed as the file it becomes ("pc12.htm") is taken without its
// extension, which the report adds again.
std::string withoutReportExtension(std::string name) {
    for (std::string_view extension : {std::string_view(".html"), std::string_view(".htm")}) {
        if (name.size() > extension.size()) {
            std::string tail = name.substr(name.size() - extension.size());
            for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (tail == extension) return name.substr(0, name.size() - extension.size());
        }
    }
    return name;
}

// Why a file cannot be made at `path`, before a scan is spent on it: the
// folder it goes into is missing or is no folder.
std::optional<std::string> missingFolderOf(const std::string& path) {
    std::filesystem::path folder = pathFromUtf8(path).parent_path();
    if (folder.empty()) return std::nullopt;
    std::error_code error;
    const auto status = std::filesystem::status(folder, error);
    if (!std::filesystem::exists(status)) return "the folder " + utf8FromPath(folder) + " does not exist";
    if (!std::filesystem::is_directory(status)) return utf8FromPath(folder) + " is not a folder";
    return std::nullopt;
}

// The console's lines, except the one that says the report is saved: that
// waits until everything the run was asked for (the snapshot too) is written,
// so that no line reading as success follows a failure.
class HeldSuccessUi final : public Ui {
public:
    explicit HeldSuccessUi(Ui& inner) : inner_(inner) {}
    void messageBox(std::string_view text, MessageStyle style, std::string_view title) override {
        if (title == "File is saved") {
            held_ = {std::string(text), std::string(title)};
            return;
        }
        inner_.messageBox(text, style, title);
    }
    Status closeNameDialog() override { return inner_.closeNameDialog(); }
    Status setPointer(int pointer) override { return inner_.setPointer(pointer); }
    Status progressSetCaption(std::string_view caption) override { return inner_.progressSetCaption(caption); }
    Status progressVisiblePicture(std::uint32_t fore, std::uint32_t back, bool visible) override {
        return inner_.progressVisiblePicture(fore, back, visible);
    }
    Status progressSetMessage(std::string_view message) override { return inner_.progressSetMessage(message); }
    Status progressShow() override { return inner_.progressShow(); }
    Status progressUpdate(std::int32_t percent) override { return inner_.progressUpdate(percent); }
    Status progressUnload() override { return inner_.progressUnload(); }
    Status unloadMainWindow() override { return inner_.unloadMainWindow(); }

    void release() {
        if (held_) inner_.messageBox(held_->first, MessageStyle::Plain, held_->second);
        held_.reset();
    }

private:
    Ui& inner_;
    std::optional<std::pair<std::string, std::string>> held_;
};

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
                 "Without arguments the desktop windows open; with --batch the same scan runs without windows.\n"
                 "Saved reports and snapshots as data: veltrix export --help, veltrix compare --help; many "
                 "machines in one database: veltrix store --help; reporting to a fleet server: veltrix agent --help.",
                 "veltrix"};
    app.set_version_flag("--version", std::string("Veltrix ") + kVersionText);
    app.add_flag("--batch", o.batch, "Scan without windows");
    app.add_option("--name", o.name, "Report name; the report is NAME.htm (a NAME ending in .htm is taken without it)")
        ->option_text("NAME")
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
    app.add_option("--comment", o.comment, "Comment shown under the designation")->option_text("TEXT");
    app.add_flag("--no-hotfix", o.noHotfix, "Leave out the installed updates");
    app.add_flag("--no-software", o.noSoftware, "Leave out the installed software");
    app.add_option("--output-dir", o.outputDir, "Folder for the report (default: the current folder)")
        ->check(notEmpty)
        ->option_text("DIR");
    app.add_option("--snapshot", o.snapshot,
                   "Scan the data of a snapshot file instead of this computer (- reads the standard input)")
        ->check(notEmpty)
        ->option_text("FILE");
    app.add_option("--save-snapshot", o.saveSnapshot,
                   "Also write what the scan read into a snapshot file, to replay it anywhere (- writes it to the "
                   "standard output)")
        ->check(notEmpty)
        ->option_text("FILE");
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
    std::string footer =
        "Exit status: 0 the report was written (sections that could not be read are named in one line on "
        "standard error and show an Error row), 1 the report or the snapshot could not be written or the scan "
        "reached no data source at all, 2 bad arguments or a bad snapshot.";
    if (!environment.helpNotes.empty()) footer = environment.helpNotes + "\n" + footer;
    app.footer(footer);

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
    o.name = withoutReportExtension(o.name);

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

    // Where the report and the snapshot go is checked before any data source
    // is reached: a missing folder is one line that names it, not a scan that
    // then says the file could not be created.
    {
        std::error_code error;
        const auto status = std::filesystem::status(pathFromUtf8(o.outputDir), error);
        if (!std::filesystem::is_directory(status)) {
            const bool exists = std::filesystem::exists(status);
            std::string shown =
                utf8FromPath(std::filesystem::absolute(pathFromUtf8(o.outputDir), error).lexically_normal());
            while (shown.size() > 1 && (shown.back() == '/' || shown.back() == '\\')) shown.pop_back();
            const std::string file = utf8FromPath(pathFromUtf8(shown) / pathFromUtf8(o.name + ".htm"));
            printLine(err, "veltrix: Could not create the file... " + file + ": " +
                               std::strerror(exists ? ENOTDIR : ENOENT) + " (the folder " + shown +
                               (exists ? " is not a folder)" : " does not exist)"));
            return kExitScanFailed;
        }
    }
    if (!o.saveSnapshot.empty() && !IsStandardStream(o.saveSnapshot)) {
        if (auto missing = missingFolderOf(o.saveSnapshot)) {
            printLine(err, "veltrix: cannot write the snapshot file " + o.saveSnapshot + ": " + *missing);
            return kExitScanFailed;
        }
    }

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
        auto bytes = ReadCommandInput(o.snapshot, environment.input);
        if (!bytes) {
            printLine(err, "veltrix: cannot read the snapshot file " + bytes.failure().description);
            return kExitBadInput;
        }
        auto loaded = snapshot::SnapshotSource::parse(*bytes, InputDisplayName(o.snapshot));
        if (!loaded) {
            printLine(err, "veltrix: " + loaded.failure().description);
            return kExitBadInput;
        }
        auto holder = std::make_shared<SnapshotService>();
        holder->source = std::move(*loaded);
        replayed = holder->source.get();
        if (!replayed->takenAt()) {
            trace::line("snapshot: " + InputDisplayName(o.snapshot) + " does not say when it was taken; the report is dated now");
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
            watch, o.snapshot.empty() ? origin : "replayed from " + InputDisplayName(o.snapshot));
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
    ConsoleUi console(err, environment.errorIsTerminal ? *environment.errorIsTerminal : ::isatty(::fileno(err)) == 1);
    HeldSuccessUi ui(console);
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
        printLine(err, "veltrix: Could not create the file... " + created.failure.description);
        return kExitScanFailed;
    }

    std::vector<std::string> sectionsWithErrors;
    // The batch opens the report itself, once everything is written, so that
    // it can say where the report is when no viewer opens it.
    ScanServices services{ui, *platform, *scanService, *locale, boxes, false, &sectionsWithErrors};
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
        Status saved = IsStandardStream(o.saveSnapshot) ? WriteCommandOutput("-", recorder->toJson(), out)
                                                        : recorder->save(*platform, o.saveSnapshot);
        if (!saved.ok()) {
            printLine(err, "veltrix: " + saved.failure.description);
            if (outcome == ScanOutcome::Saved) {
                printLine(err, "veltrix: the report is saved on " + path + ", the snapshot is not");
            }
            return kExitScanFailed;
        }
    }
    ui.release();
    if (outcome == ScanOutcome::Saved && o.open) {
        if (Status opened = platform->openWithShell(path); !opened.ok()) {
            printLine(err, "veltrix: the report could not be opened in a viewer (" + opened.failure.description +
                               "); it is at " + path);
        }
    }
    return code;
}

}  // namespace veltrix
