// The "Installed Software" section: the programs registered for
// uninstalling, read through the registry provider, as a paired table; only
// when the software check box is ticked.
#include <optional>
#include <string>
#include <vector>

#include "sections/collectors.h"
#include "sections/frame.h"
#include "sections/paired_table.h"

namespace veltrix {

namespace {

constexpr std::string_view kTitle = "Installed Software";
constexpr std::string_view kNativeKey = wmi::kUninstallKey;
constexpr std::string_view kWow32Key = wmi::kWow6432UninstallKey;

// The operating system's architecture text, when it can be read. Its
// failure only steers the choice of keys (an unknown architecture is read as
// 32-bit), so it is kept out of the section's error state.
std::optional<std::string> osArchitecture(ScanContext& scan) {
    Frame probe(scan, Frame::Mode::Lookup);
    std::optional<std::string> architecture;
    probe.connect();
    probe.query("Select * from Win32_OperatingSystem");
    probe.forEach([&](const wmi::Object& os) {
        architecture = probe.readText(os, "OSArchitecture");
        return false;  // one operating system answers
    });
    return architecture;
}

// A 64-bit system registers 32-bit programs under Wow6432Node and its own
// under the native key: both are listed, native first.
std::vector<std::string_view> uninstallKeys(const std::optional<std::string>& architecture) {
    if (architecture && architecture->find("64") != std::string::npos) return {kNativeKey, kWow32Key};
    return {kNativeKey};
}

bool listable(const wmi::Value& name) { return name.isText() && !name.asText().empty(); }

struct Program {
    std::string_view name, version;
};

// One uninstall subkey as a line of the list, or nothing. A value that cannot
// be read is no failure: it only decides which name is shown and whether the
// program is listed. A program with a version is listed under DisplayName.
// One without a version is still a program (older installers often write
// none) and is listed under its QuietDisplayName, else its DisplayName, with
// an empty version; but not when it names a ParentKeyName, which marks an
// update of another program rather than a program of its own. The views
// point into `name` and `version`, which the caller keeps between subkeys.
std::optional<Program> readProgram(wmi::Registry& registry, const std::string& path, wmi::Value& name,
                                   wmi::Value& version) {
    registry.getStringValue(wmi::kHkeyLocalMachine, path, "DisplayName", name);
    if (registry.getStringValue(wmi::kHkeyLocalMachine, path, "DisplayVersion", version) == 0) {
        if (!listable(name)) return std::nullopt;
        return Program{name.asText(), version.isText() ? std::string_view(version.asText()) : std::string_view()};
    }
    wmi::Value parent;
    if (registry.getStringValue(wmi::kHkeyLocalMachine, path, "ParentKeyName", parent) == 0 && listable(parent))
        return std::nullopt;
    wmi::Value quiet;
    registry.getStringValue(wmi::kHkeyLocalMachine, path, "QuietDisplayName", quiet);
    if (listable(quiet)) name = std::move(quiet);
    if (!listable(name)) return std::nullopt;
    return Program{name.asText(), {}};
}

}  // namespace

void WriteSoftwareSection(ScanContext& scan) {
    if (scan.checkBoxes.swcheck() != 1) return;

    PairedTable table;
    Frame frame(scan);
    const std::vector<std::string_view> keys = uninstallKeys(osArchitecture(scan));
    std::optional<Failure> unreachable;
    if (!frame.connectRegistry()) unreachable = frame.error();

    wmi::Value name, version;
    std::string path;
    for (std::string_view key : keys) {
        if (unreachable) {
            frame.fail(*unreachable);  // the walk fails with its cause
            continue;
        }
        auto subkeys = frame.registry()->enumKey(wmi::kHkeyLocalMachine, key);
        if (!subkeys) {
            frame.fail(subkeys.failure());
            continue;
        }
        table.reserve(subkeys->size());
        for (const std::string& subkey : *subkeys) {
            if (!frame.headWritten()) {
                frame.head(kTitle);
                table.addHeadings("Version");
            }
            path.assign(key);
            path += subkey;
            if (auto program = readProgram(*frame.registry(), path, name, version)) {
                table.add(program->name, program->version);
            }
        }
    }
    if (frame.headWritten() && !frame.failed()) frame.row(kNbsp, table.finish());
    frame.finishLazy(kTitle);
}

}  // namespace veltrix
