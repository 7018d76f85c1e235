#include "server/settings_file.h"

#include <sstream>

#include "data/report_reader.h"

namespace veltrix::server {
namespace {

// A settings file is a few lines; anything larger is not one.
constexpr std::size_t kLongestSettingsFile = 64 * 1024;

Failure settingsFailure(const std::string& path, const std::string& why) {
    return Failure{failure_code::kInvalidArgument, "--config " + path + ": " + why};
}

}  // namespace

std::set<std::string> settingNames(const CLI::App& command) {
    std::set<std::string> names;
    for (const CLI::Option* option : command.get_options()) {
        for (const std::string& name : option->get_lnames()) {
            if (name != "help" && name != "config") names.insert(name);
        }
    }
    return names;
}

Status applySettingsFile(CLI::App& command, const std::string& path, const std::set<std::string>& known) {
    auto text = data::ReadWholeFile(path, kLongestSettingsFile);
    if (!text) return Failure{failure_code::kInvalidArgument, "--config " + text.failure().description};
    std::istringstream in(*text);
    std::vector<CLI::ConfigItem> items;
    try {
        items = CLI::ConfigTOML().from_config(in);
    } catch (const CLI::Error& error) {
        return settingsFailure(path, error.what());
    }
    std::set<std::string> seen;
    for (const CLI::ConfigItem& item : items) {
        if (!item.parents.empty()) return settingsFailure(path, "sections are not settings: [" + item.parents[0] + "]");
        if (known.count(item.name) == 0) {
            return settingsFailure(path, "no setting is called \"" + item.name + "\" (the names are the long options of "
                                         "\"veltrix server run\" without their dashes)");
        }
        // The reader merges a repeated name into one item of several values;
        // no setting takes a list.
        if (!seen.insert(item.name).second || item.inputs.size() > 1) {
            return settingsFailure(path, item.name + " is set more than once");
        }
        CLI::Option* option = command.get_option_no_throw("--" + item.name);
        // Given on the command line, or a setting of another command.
        if (option == nullptr || option->count() > 0) continue;
        try {
            option->add_result(item.inputs);
            option->run_callback();
        } catch (const CLI::Error& error) {
            return settingsFailure(path, item.name + ": " + error.what());
        }
    }
    return {};
}

}  // namespace veltrix::server
