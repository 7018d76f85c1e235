#include "ui/console/export_command.h"

#include <algorithm>
#include <sstream>

#include <CLI/CLI.hpp>

#include "data/report_export.h"
#include "ui/console/command_input.h"
#include "ui/console/command_line.h"
#include "ui/console/command_output.h"

namespace veltrix {

int runExport(int argc, char** argv, BatchEnvironment& environment, std::FILE* out, std::FILE* err) {
    std::string format = "json";
    std::string output;
    std::vector<std::string> inputs;
    CLI::App app{"Writes reports (.htm) and snapshots (.json) as JSON or CSV. A snapshot is scanned in memory first.",
                 "veltrix export"};
    app.add_option("--format", format, "json (default; one document, or an array for several inputs) or csv")
        ->check(CLI::IsMember({"json", "csv"}));
    app.add_option("--output", output, "Write to FILE instead of the standard output (- is the standard output)")
        ->option_text("FILE");
    app.add_option("INPUT", inputs, "Reports or snapshots, told apart by their content; - reads the standard input")
        ->required()
        ->option_text("FILE...");
    if (auto answered = parseArguments(app, argc, argv, out, err)) return *answered ? kExitOk : kExitBadInput;
    if (std::count_if(inputs.begin(), inputs.end(), IsStandardStream) > 1) {
        PrintLine(err, "veltrix export: the standard input (-) can be read only once");
        return kExitBadInput;
    }

    // Every input is read before anything is written: one bad input leaves no
    // half export behind.
    const auto locale = environment.makeLocale();
    std::vector<data::NamedReport> reports;
    reports.reserve(inputs.size());
    for (const std::string& input : inputs) {
        auto report = LoadCommandInput(input, *locale, environment.input);
        if (!report) {
            PrintLine(err, "veltrix export: " + report.failure().description);
            return kExitBadInput;
        }
        reports.push_back({input, std::move(*report)});
    }
    const std::string bytes = format == "csv" ? data::ExportCsv(reports) : data::ExportJson(reports, locale.get());
    if (Status written = WriteCommandOutput(output, bytes, out); !written.ok()) {
        PrintLine(err, "veltrix export: " + written.failure.description);
        return kExitScanFailed;
    }
    return kExitOk;
}

}  // namespace veltrix
