#include "ui/console/compare_command.h"

#include <filesystem>
#include <sstream>

#include <CLI/CLI.hpp>

#include "data/compare_output.h"
#include "ui/console/command_input.h"
#include "ui/console/command_line.h"
#include "ui/console/command_output.h"

namespace veltrix {

namespace {

constexpr int kSame = 0;
constexpr int kDiffer = 1;
constexpr int kTrouble = 2;

}  // namespace

int runCompare(int argc, char** argv, BatchEnvironment& environment, std::FILE* out, std::FILE* err) {
    std::string oldPath, newPath, format, output;
    bool open = false;
    CLI::App app{"Compares two reports (.htm) or snapshots (.json) of a machine, in any mix: the items added, "
                 "removed and changed per section, programs upgraded; scans of two different machines say so first. "
                 "Exit code 0: the same, 1: they differ, 2: trouble.",
                 "veltrix compare"};
    app.add_option("OLD", oldPath, "The earlier report or snapshot (- reads the standard input)")
        ->required()
        ->option_text("FILE");
    app.add_option("NEW", newPath, "The later report or snapshot")->required()->option_text("FILE");
    app.add_option("--format", format, "text (default), html (also htm) or json")
        ->check(CLI::IsMember({"text", "html", "htm", "json"}));
    app.add_option("--output", output, "Write to FILE instead of the standard output (- is the standard output)")
        ->option_text("FILE");
    app.add_flag("--open", open, "Open the HTML comparison in the default viewer (implies --format html)");
    if (auto answered = parseArguments(app, argc, argv, out, err)) return *answered ? kSame : kTrouble;
    if (format == "htm") format = "html";
    if (open && format.empty()) format = "html";
    if (format.empty()) format = "text";
    if (open && format != "html") {
        PrintLine(err, "veltrix compare: --open needs --format html");
        return kTrouble;
    }
    if (open && IsStandardStream(output)) {
        PrintLine(err, "veltrix compare: --open needs a file to open, not the standard output");
        return kTrouble;
    }
    if (IsStandardStream(oldPath) && IsStandardStream(newPath)) {
        PrintLine(err, "veltrix compare: the standard input (-) can be read only once");
        return kTrouble;
    }

    const auto locale = environment.makeLocale();
    auto before = LoadCommandInput(oldPath, *locale, environment.input);
    if (!before) {
        PrintLine(err, "veltrix compare: " + before.failure().description);
        return kTrouble;
    }
    auto after = LoadCommandInput(newPath, *locale, environment.input);
    if (!after) {
        PrintLine(err, "veltrix compare: " + after.failure().description);
        return kTrouble;
    }
    const data::NamedReport oldReport{oldPath, std::move(*before)}, newReport{newPath, std::move(*after)};
    const data::Comparison comparison = data::CompareReports(oldReport.report, newReport.report);

    std::string bytes;
    if (format == "json") {
        bytes = data::CompareAsJson(oldReport, newReport, comparison);
    } else if (format == "html") {
        bytes = data::CompareAsHtml(oldReport, newReport, comparison);
    } else {
        bytes = data::CompareAsText(oldReport, newReport, comparison);
    }
    // Opening needs a file: without --output the page goes to the temporary
    // folder, and the user is told where, so it can be found again.
    const bool intoTemporaryFolder = open && output.empty();
    if (intoTemporaryFolder) {
        std::error_code error;
        auto folder = std::filesystem::temp_directory_path(error);
        if (error) folder = ".";
        const std::string stem = IsStandardStream(newPath) ? "input" : std::filesystem::path(newPath).stem().string();
        output = (folder / ("veltrix-compare-" + stem + ".htm")).string();
    }
    if (Status written = WriteCommandOutput(output, bytes, out); !written.ok()) {
        PrintLine(err, "veltrix compare: " + written.failure.description);
        return kTrouble;
    }
    if (open) {
        std::error_code ignored;
        std::filesystem::path target = std::filesystem::absolute(output, ignored);
        if (intoTemporaryFolder) PrintLine(err, "veltrix compare: the comparison is written to " + target.string());
        auto platform = environment.makePlatform(target.parent_path().string());
        if (Status opened = platform->openWithShell(target.string()); !opened.ok()) {
            PrintLine(err, "veltrix compare: the comparison could not be opened in a viewer (" +
                               opened.failure.description + "); it is at " + target.string());
        }
    }
    return comparison.same() ? kSame : kDiffer;
}

}  // namespace veltrix
