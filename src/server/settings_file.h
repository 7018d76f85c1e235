// `--config FILE` of the server's commands: settings kept in a file, one
// `NAME = VALUE` a line, NAME a long option of `server run` without its
// dashes. A system service reads its store, address and certificate from
// there, and an administrator's `secret create` the same store.
#pragma once

#include <set>
#include <string>

#include <CLI/CLI.hpp>

#include "core/result.h"

namespace veltrix::server {

// The long option names a settings file may hold: those of `command`,
// without --help and --config.
std::set<std::string> settingNames(const CLI::App& command);

// Gives each option of `command` that the command line left out its value
// from the file. A name outside `known` (a typo would otherwise pass
// unnoticed), a section, a repeated name or a value the option refuses is a
// failure naming the file; a known name that `command` lacks (the address
// for `secret create`) is passed over.
Status applySettingsFile(CLI::App& command, const std::string& path, const std::set<std::string>& known);

}  // namespace veltrix::server
