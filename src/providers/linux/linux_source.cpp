#include "providers/linux/linux_source.h"

#include <algorithm>
#include <system_error>

#include "core/ascii.h"
#include "providers/linux/class_builders.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

namespace {
using Builder = Objects (*)(MachineData&);

Objects noInstances(MachineData&) { return {}; }

// Lower-case class name -> builder. A class not listed is unknown.
const std::map<std::string, Builder>& builders() {
    static const std::map<std::string, Builder> kBuilders{
        {"win32_bios", buildBios},
        {"win32_systemenclosure", buildSystemEnclosure},
        {"win32_computersystemproduct", buildComputerSystemProduct},
        {"win32_baseboard", buildBaseBoard},
        {"win32_computersystem", buildComputerSystem},
        {"win32_processor", buildProcessors},
        {"win32_physicalmemory", buildPhysicalMemory},
        {"win32_systemslot", buildSystemSlots},
        {"win32_diskdrive", buildDiskDrives},
        {"win32_logicaldisk", buildLogicalDisks},
        {"win32_cdromdrive", buildCdromDrives},
        {"win32_keyboard", buildKeyboards},
        {"win32_pointingdevice", buildPointingDevices},
        {"win32_potsmodem", noInstances},  // no analogue modems here
        {"win32_battery", buildBatteries},
        {"win32_networkadapter", buildNetworkAdapters},
        {"win32_videocontroller", buildVideoControllers},
        {"win32_pnpentity", buildPnpEntities},
        {"win32_pnpsigneddriver", buildPnpSignedDrivers},
        {"win32_operatingsystem", buildOperatingSystem},
        {"win32_quickfixengineering", buildQuickFixEngineering},
    };
    return kBuilders;
}

// Starts `work` on a thread of its own. When no thread can be had the
// future stays empty, and the work is done where it is first needed.
template <typename Work>
auto startAhead(Work work) -> std::future<decltype(work())> {
    try {
        return std::async(std::launch::async, std::move(work));
    } catch (const std::system_error&) {
        return {};
    }
}

std::string normaliseNamespace(std::string_view nameSpace) {
    std::string out = toLower(nameSpace);
    for (char& c : out)
        if (c == '/') c = '\\';
    while (!out.empty() && out.front() == '\\') out.erase(out.begin());
    return out;
}
}  // namespace

LinuxSource::LinuxSource(std::string root, LinuxSourceOptions options) : machine_(std::move(root), options) {}

bool LinuxSource::hasNamespace(std::string_view nameSpace) const {
    const std::string ns = normaliseNamespace(nameSpace);
    return ns == "root\\cimv2" || ns == "root\\default";
}

Result<const std::vector<wmi::ObjectPtr>*> LinuxSource::instances(std::string_view nameSpace,
                                                                  std::string_view className) {
    const std::string ns = normaliseNamespace(nameSpace);
    if (!hasNamespace(ns))
        return Failure{failure_code::kInvalidNamespace, "Invalid namespace " + std::string(nameSpace)};
    const std::string key = toLower(className);
    auto cached = classes_.find(key);
    if (cached != classes_.end()) return &cached->second;
    auto builder = builders().find(key);
    if (ns != "root\\cimv2" || builder == builders().end())
        return Failure{failure_code::kInvalidClass, "Invalid class " + std::string(className)};
    if (key == "win32_quickfixengineering" && classesAhead_.valid()) {
        if (auto updates = classesAhead_.get()) return &classes_.emplace(key, std::move(*updates)).first->second;
    }
    return &classes_.emplace(key, builder->second(machine_)).first->second;
}

void LinuxSource::expectClasses(std::string_view nameSpace, const std::vector<std::string>& classNames) {
    auto expects = [&](std::initializer_list<std::string_view> names) {
        return std::any_of(classNames.begin(), classNames.end(), [&](const std::string& expected) {
            return std::any_of(names.begin(), names.end(),
                               [&](std::string_view name) { return equalsIgnoringCase(expected, name); });
        });
    };
    const std::string ns = normaliseNamespace(nameSpace);
    if (ns == "root\\cimv2" && !classesAhead_.valid()) {
        // A list is read for the devices of its bus; a container has none.
        const bool devices =
            expects({"Win32_VideoController", "Win32_PnPEntity", "Win32_PnPSignedDriver", "Win32_NetworkAdapter"});
        const bool pci = devices && !machine_.files.list("/sys/bus/pci/devices").empty();
        const bool usb = devices && !machine_.files.list("/sys/bus/usb/devices").empty();
        // Read here, since the file view is this thread's; it keeps the text for the source's life.
        const std::optional<std::string>* log = nullptr;
        if (expects({"Win32_QuickFixEngineering"}) && !classes_.count("win32_quickfixengineering"))
            log = &machine_.files.read(kAptHistoryLog);
        if (pci || usb || log) {
            classesAhead_ = startAhead([this, pci, usb, log]() -> std::optional<Objects> {
                if (pci) machine_.pciIds.load();
                if (usb) machine_.usbIds.load();
                if (!log) return std::nullopt;
                return updatesFromHistory(*log);
            });
        }
    }
    if (ns == "root\\default" && !registry_ && !programsAhead_.valid() && expects({"StdRegProv"})) {
        // Mapped here, since the file view is this thread's; only parsing waits on the other.
        const std::string_view database = machine_.packageDatabase();
        programsAhead_ = startAhead([database] {
            Programs programs{parseDpkgStatus(database), {}};
            programs.registry = buildSoftwareRegistry(programs.packages);
            return programs;
        });
    }
}

const RegistryTree& LinuxSource::registry() {
    if (registry_) return *registry_;
    if (programsAhead_.valid()) {
        Programs programs = programsAhead_.get();
        machine_.adoptPackages(std::move(programs.packages));
        registry_ = std::move(programs.registry);
    } else {
        registry_ = buildSoftwareRegistry(machine_.packages());
    }
    return *registry_;
}

Result<std::vector<std::string>> LinuxSource::registrySubkeys(std::string_view path) {
    auto keys = registry().subkeys(path);
    if (!keys) return Failure{failure_code::kNotFound, "Registry key not found: " + std::string(path)};
    return std::move(*keys);  // a thousand names on a desktop: copied once, not twice
}

std::optional<std::string> LinuxSource::registryString(std::string_view path, std::string_view valueName) {
    return registry().value(path, valueName);
}

bool LinuxSource::readRegistryString(std::string_view path, std::string_view valueName, std::string& out) {
    auto text = registry().valueView(path, valueName);
    if (!text) return false;
    out.assign(*text);
    return true;
}

LinuxSource::Inputs LinuxSource::inputsRead() const {
    if (classesAhead_.valid()) classesAhead_.wait();  // what the id lists' thread read is known when it is done
    Inputs out{machine_.files.filesReadPaths(), machine_.files.directoriesListed(), machine_.files.linksRead()};
    for (const IdsDatabase* ids : {&machine_.pciIds, &machine_.usbIds})
        if (std::string path = ids->fileRead(); !path.empty()) out.files.push_back(std::move(path));
    return out;
}

}  // namespace veltrix::linux_provider

namespace veltrix {
std::unique_ptr<wmi::ClassSource> makeLinuxSource(std::string root) {
    return std::make_unique<linux_provider::LinuxSource>(std::move(root));
}

std::unique_ptr<wmi::ClassSource> makeSysrootSource(std::string root) {
    linux_provider::LinuxSourceOptions options;
    options.mountsAreLive = false;
    const linux_provider::SystemTree inside(root), host("/");
    for (auto [fileName, path] : {std::pair{"pci.ids", &options.pciIdsPath}, std::pair{"usb.ids", &options.usbIdsPath}}) {
        std::string found = linux_provider::findIdList(inside, fileName);
        *path = found.empty() ? linux_provider::findIdList(host, fileName) : found;
    }
    return std::make_unique<linux_provider::LinuxSource>(std::move(root), options);
}
}  // namespace veltrix
