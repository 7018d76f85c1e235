// Argument parsing shared by the scan and the subcommands.
#pragma once

#include <cstdio>
#include <optional>
#include <sstream>

#include <CLI/CLI.hpp>

namespace veltrix {

// Parses the arguments into `app`. Nothing when the command is to run; when
// the parser answered by itself, its text is printed and the result says
// whether that was help or a version (true) or a refusal (false).
inline std::optional<bool> parseArguments(CLI::App& app, int argc, char** argv, std::FILE* out, std::FILE* err) {
    try {
        app.parse(argc, argv);
        return std::nullopt;
    } catch (const CLI::ParseError& e) {
        std::ostringstream normal, failure;
        const int code = app.exit(e, normal, failure);
        std::fputs(normal.str().c_str(), out);
        std::fputs(failure.str().c_str(), err);
        return code == 0;
    }
}

}  // namespace veltrix
