// The data source for Linux: answers the inventory classes from sysfs,
// procfs, the firmware tables, udev's database, the id lists and the
// package database below a root directory ("/" on the live machine).
// Classes are built when first asked for and kept for the life of the
// source (one scan); no other program is started, nothing waits on a device.
// Told which classes and whether the registry will be read, the source
// starts on the inputs that take longest to decode, the id lists, the
// package database and the package tool's history, on threads of their
// own: each is a file apart from everything else the scan reads.
#pragma once

#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "providers/linux/machine_data.h"
#include "providers/linux/software_registry.h"
#include "wmi/class_source.h"

namespace veltrix::linux_provider {

class LinuxSource final : public wmi::ClassSource {
public:
    explicit LinuxSource(std::string root = "/", LinuxSourceOptions options = {});

    bool hasNamespace(std::string_view nameSpace) const override;
    Result<const std::vector<wmi::ObjectPtr>*> instances(std::string_view nameSpace,
                                                         std::string_view className) override;
    Result<std::vector<std::string>> registrySubkeys(std::string_view path) override;
    // Classes that name devices start the id lists on a thread, with the
    // updates after them when those are expected; StdRegProv in root\default
    // starts the registry's programs on a thread of their own.
    void expectClasses(std::string_view nameSpace, const std::vector<std::string>& classNames) override;
    std::optional<std::string> registryString(std::string_view path, std::string_view valueName) override;
    bool readRegistryString(std::string_view path, std::string_view valueName, std::string& out) override;

    // How many distinct files the source has read so far.
    std::size_t filesRead() const { return machine_.files.filesRead(); }
    // Paths on this machine of every file the source has read (the id lists
    // included), every directory it listed and every path it asked whether
    // it is a link (device paths and driver bindings are links): the input a
    // plain reader of the same data would have to read too.
    struct Inputs {
        std::vector<std::string> files;
        std::vector<std::string> directories;
        std::vector<std::string> links;
    };
    Inputs inputsRead() const;

private:
    // The packages and the registry built from them: both refer to the
    // package database's text, which machine_ keeps mapped.
    struct Programs {
        std::vector<InstalledPackage> packages;
        RegistryTree registry;
    };
    const RegistryTree& registry();

    MachineData machine_;
    std::map<std::string, std::vector<wmi::ObjectPtr>> classes_;  // lower-case name
    std::optional<RegistryTree> registry_;
    // Work on threads of their own, each touching nothing but its own
    // files; waited for before machine_ goes (members go in reverse order).
    // First: machine_'s id lists loaded, then Win32_QuickFixEngineering built
    // from the log read, when it is expected. Second: the registry, built
    // from the mapped package database.
    std::future<std::optional<std::vector<wmi::ObjectPtr>>> classesAhead_;
    std::future<Programs> programsAhead_;
};

}  // namespace veltrix::linux_provider

namespace veltrix {
std::unique_ptr<wmi::ClassSource> makeLinuxSource(std::string root = "/");
// A captured system below `root`: its own id lists when it holds them, else
// this machine's, since captures seldom carry them.
std::unique_ptr<wmi::ClassSource> makeSysrootSource(std::string root);
}  // namespace veltrix
