#include "ui/console/compare_command.h"

#include <filesystem>
#include <sstream>

#include <CLI/CLI.hpp>

#include "data/compare_output.h"
#include "data/load_input.h"
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
                 "removed and changed per section. Exit code 0: the same, 1: they differ, 2: trouble.",
                 "veltrix compare"};
    app.add_option("OLD", oldPath, "The earlier report or snapshot")->required();
    app.add_option("NEW", newPath, "The later report or snapshot")->required();
    app.add_option("--format", format, "text (default), html or json")->check(CLI::IsMember({"text", "html", "json"}));
    app.add_option("--output", output, "Write to FILE instead of the standard output");
    app.add_flag("--open", open, "Open the HTML comparison in the default viewer (implies --format html)");
    if (auto answered = parseArguments(app, argc, argv, out, err)) return *answered ? kSame : kTrouble;
    if (open && format.empty()) format = "html";
    if (format.empty()) format = "text";
    if (open && format != "html") {
        PrintLine(err, "veltrix compare: --open needs --format html");
        return kTrouble;
    }

    const auto locale = environment.makeLocale();
    auto before = data::LoadInput(oldPath, *locale);
    if (!before) {
        PrintLine(err, "veltrix compare: " + before.failure().description);
        return kTrouble;
    }
    auto after = data::LoadInput(newPath, *locale);
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
    // Opening needs a file: without --output the page goes to the temporary folder.
    if (open && output.empty()) {
        std::error_code error;
        auto folder = std::filesystem::temp_directory_path(error);
        if (error) folder = ".";
        output = (folder / ("veltrix-compare-" + std::filesystem::path(newPath).stem().string() + ".htm")).string();
    }
    if (Status written = WriteCommandOutput(output, bytes, out); !written.ok()) {
        PrintLine(err, "veltrix compare: " + written.failure.description);
        return kTrouble;
    }
    if (open) {
        std::error_code ignored;
        std::filesystem::path target = std::filesystem::absolute(output, ignored);
        auto platform = environment.makePlatform(target.parent_path().string());
        if (Status opened = platform->openWithShell(target.string()); !opened.ok()) {
            PrintLine(err, "veltrix compare: cannot open " + target.string() + ": " + opened.failure.description);
        }
    }
    return comparison.same() ? kSame : kDiffer;
}

}  // namespace veltrix
