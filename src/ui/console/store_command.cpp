#include "ui/console/store_command.h"

#include <filesystem>
#include <optional>
#include <sstream>
#include <vector>

#include <CLI/CLI.hpp>

#include "data/load_input.h"
#include "ui/console/batch.h"
#include "ui/console/command_input.h"
#include "ui/console/command_line.h"
#include "ui/console/command_output.h"

#ifdef VELTRIX_HAVE_STORE
#include "store/content_digest.h"
#include "store/fleet_overview.h"
#include "store/inventory_store.h"
#endif

namespace veltrix {
namespace {

void printLine(std::FILE* f, const std::string& text) {
    std::fputs(text.c_str(), f);
    std::fputc('\n', f);
}

#ifdef VELTRIX_HAVE_STORE

// Inputs read before one transaction: enough to make commits rare, few
// enough that memory stays flat and another writer waits only briefly.
constexpr std::size_t kBatchInputs = 64;

struct PendingInput {
    std::string path;
    std::string digest;
    data::Report report;
};

struct AddCounts {
    std::size_t added = 0;
    std::size_t present = 0;
    std::size_t skipped = 0;
};

// Writes the whole batch in one transaction. An input the store refuses is
// named and skipped; a failed commit loses the batch, and says so.
void storeBatch(store::InventoryStore& inventory, std::vector<PendingInput>& batch, AddCounts& counts,
                std::FILE* err) {
    if (batch.empty()) return;
    auto failBatch = [&](const std::string& why) {
        for (const auto& input : batch) printLine(err, "veltrix: " + input.path + " was not stored: " + why);
        counts.skipped += batch.size();
        batch.clear();
    };
    if (Status begun = inventory.beginBatch(); !begun.ok()) return failBatch(begun.failure.description);
    AddCounts inBatch;
    for (const auto& input : batch) {
        std::error_code ignored;
        std::string source = std::filesystem::absolute(input.path, ignored).string();
        auto outcome = inventory.add(input.report, input.digest, source);
        if (!outcome) {
            printLine(err, "veltrix: skipped " + input.path + ": " + outcome.failure().description);
            ++inBatch.skipped;
        } else if (*outcome == store::AddOutcome::Added) {
            ++inBatch.added;
            if (!input.report.timeKnown) {
                printLine(err, "veltrix: " + input.path +
                                   " does not say when it was taken; stored as the oldest scan of its machine");
            }
        } else {
            ++inBatch.present;
        }
    }
    if (Status committed = inventory.commitBatch(); !committed.ok()) {
        inventory.rollbackBatch();
        return failBatch(committed.failure.description);
    }
    counts.added += inBatch.added;
    counts.present += inBatch.present;
    counts.skipped += inBatch.skipped;
    batch.clear();
}

// An input the store cannot take as a file, said before its digest is
// attempted: a folder is most often a captured system given here by mistake.
std::optional<std::string> unreadableInput(const std::string& path) {
    if (IsStandardStream(path)) return "the store loads files; save the standard input to a file first";
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return "is a folder, not a regular file (for a captured system use veltrix --batch --sysroot " + path +
               " --name NAME, then add its report)";
    }
    return std::nullopt;
}

int runAdd(const std::string& db, const std::vector<std::string>& inputs, const StoreInputLoader& load,
           std::FILE* out, std::FILE* err) {
    auto opened = store::InventoryStore::open(db, store::OpenMode::CreateOrUpgrade);
    if (!opened) {
        printLine(err, "veltrix: " + opened.failure().description);
        return kExitBadInput;
    }
    store::InventoryStore& inventory = **opened;
    AddCounts counts;
    std::vector<PendingInput> batch;
    for (const auto& path : inputs) {
        if (auto refused = unreadableInput(path)) {
            printLine(err, "veltrix: skipped " + path + ": " + *refused);
            ++counts.skipped;
            continue;
        }
        auto digest = store::fileDigest(path);
        if (!digest) {
            printLine(err, "veltrix: skipped " + path + ": " + digest.failure().description);
            ++counts.skipped;
            continue;
        }
        // Known already: no need to read it.
        auto known = inventory.contains(*digest);
        if (known && *known) {
            ++counts.present;
            continue;
        }
        auto report = load(path);
        if (!report) {
            printLine(err, "veltrix: skipped " + path + ": " + report.failure().description);
            ++counts.skipped;
            continue;
        }
        batch.push_back(PendingInput{path, std::move(*digest), std::move(*report)});
        if (batch.size() >= kBatchInputs) storeBatch(inventory, batch, counts, err);
    }
    storeBatch(inventory, batch, counts, err);
    printLine(out, std::to_string(counts.added) + " added, " + std::to_string(counts.present) +
                       " already in the store, " + std::to_string(counts.skipped) + " skipped");
    if (counts.skipped == 0) return kExitOk;
    return counts.added + counts.present > 0 ? kExitScanFailed : kExitBadInput;
}

int runOverview(const std::string& db, const std::string& output, const std::string& format, std::FILE* out,
                std::FILE* err) {
    auto opened = store::InventoryStore::open(db, store::OpenMode::Existing);
    if (!opened) {
        printLine(err, "veltrix: " + opened.failure().description);
        return kExitBadInput;
    }
    auto lines = store::readOverview((*opened)->connection());
    if (!lines) {
        printLine(err, "veltrix: cannot read the overview from " + store::displayTarget(db) + ": " +
                           lines.failure().description);
        return kExitScanFailed;
    }
    std::string text = format == "csv" ? store::overviewCsv(*lines) : store::overviewPage(*lines);
    // Written beside the target and renamed over it, so a failure never
    // leaves half a page where a whole one was.
    if (Status written = WriteCommandOutput(output, text, out); !written.ok()) {
        printLine(err, "veltrix: cannot write the overview: " + written.failure.description);
        return kExitScanFailed;
    }
    return kExitOk;
}

#endif

}  // namespace

int runStoreCommand(int argc, char** argv, const StoreInputLoader& load, std::FILE* out, std::FILE* err) {
    CLI::App app{"Veltrix fleet store: many machines' reports in one SQL database.\n"
                 "Commands: add (load reports and snapshots), overview (one line per machine)."};
    app.name("veltrix store");
    app.require_subcommand(1);
    std::string db = "veltrix-inventory.sqlite";
    std::vector<std::string> inputs;
    std::string output;
    std::string format = "htm";
    const std::string dbHelp = "SQLite file or postgresql:// URL (default: veltrix-inventory.sqlite)";
    CLI::App* add = app.add_subcommand("add", "Load reports (.htm) and snapshots (.json) into the store");
    add->add_option("--db", db, dbHelp)->option_text("DB");
    add->add_option("inputs", inputs, "Reports and snapshots")->required()->option_text("FILE...");
    CLI::App* overview = app.add_subcommand("overview", "One line per machine from its newest scan");
    overview->add_option("--db", db, dbHelp)->option_text("DB");
    overview->add_option("--output", output, "The page (or CSV file) to write; - is the standard output")
        ->required()
        ->option_text("FILE");
    overview->add_option("--format", format, "htm (default; also html) or csv")
        ->check(CLI::IsMember({"htm", "html", "csv"}));
    // Without a command, or with one it does not know, the parser's own
    // answer names none of the commands there are.
    const std::string first = argc > 1 ? argv[1] : "";
    if (first.empty() || (first[0] != '-' && first != "add" && first != "overview")) {
        printLine(err, std::string("veltrix store: ") +
                           (first.empty() ? "a command is needed" : "there is no command '" + first + "'") +
                           "; the commands are add (load reports and snapshots) and overview (one line per "
                           "machine); see veltrix store --help");
        return kExitBadInput;
    }
    if (auto answered = parseArguments(app, argc, argv, out, err)) return *answered ? kExitOk : kExitBadInput;
#ifdef VELTRIX_HAVE_STORE
    if (add->parsed()) return runAdd(db, inputs, load, out, err);
    return runOverview(db, output, format == "csv" ? "csv" : "htm", out, err);
#else
    (void)load;
    printLine(err, "veltrix: the store is not part of this build of Veltrix; use the Linux program");
    return kExitBadInput;
#endif
}

int runStoreCommand(int argc, char** argv, std::FILE* out, std::FILE* err) {
    return runStoreCommand(argc, argv, [](const std::string& path) { return data::LoadInput(path); }, out, err);
}

}  // namespace veltrix
