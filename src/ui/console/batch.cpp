#include "ui/console/batch.h"

#include <unistd.h>

#include <filesystem>
#include <sstream>

#include <CLI/CLI.hpp>

#include "app/name_characters.h"
#include "app/scan_driver.h"
#include "core/version.h"
#include "providers/snapshot/recorder.h"
#include "providers/snapshot/snapshot_source.h"
#include "report/text.h"
#include "ui/console/compare_command.h"
#include "ui/console/console_ui.h"
#include "ui/console/export_command.h"
#include "ui/console/store_command.h"
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
    bool open = false;
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

std::string describeCharacter(char c) { return c == ' ' ? std::string("a space") : "'" + std::string(1, c) + "'"; }

}  // namespace

int runBatch(int argc, char** argv, BatchEnvironment& environment, std::FILE* out, std::FILE* err) {
    // The subcommands that read reports as data take over the whole command line.
    if (argc > 1 && std::string_view(argv[1]) == "export") return runExport(argc - 1, argv + 1, environment, out, err);
    if (argc > 1 && std::string_view(argv[1]) == "compare") return runCompare(argc - 1, argv + 1, environment, out, err);
    if (argc > 1 && std::string_view(argv[1]) == "store") return runStoreCommand(argc - 1, argv + 1, out, err);
    Options o;
    CLI::App app{"Veltrix " + std::string(kVersionText) +
                 ": hardware and software inventory of this computer as one HTML page.\n"
                 "Without arguments the desktop windows open; with --batch the same scan runs without windows."};
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
    app.add_flag("--open", o.open, "Open the report in the default viewer when done");
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

    // A bad snapshot is refused before any report file is touched.
    std::shared_ptr<wmi::Service> service;
    if (!o.snapshot.empty()) {
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
        recorder = std::make_unique<snapshot::RecordingService>(
            *service, o.snapshot.empty() ? "veltrix " + std::string(kVersionText) + " --save-snapshot"
                                         : "replayed from " + o.snapshot);
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
