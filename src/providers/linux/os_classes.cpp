// The operating system and its installed updates.
#include <map>

#include "providers/linux/apt_history.h"
#include "providers/linux/class_builders.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

using wmi::PropertyObject;
using wmi::Value;

namespace {
// The kernel's build flags from its version text: "#1 SMP PREEMPT_DYNAMIC
// Debian ..." -> "SMP PREEMPT_DYNAMIC".
std::optional<std::string> buildType(const std::optional<std::string>& version) {
    if (!version) return std::nullopt;
    std::string out;
    std::size_t pos = 0;
    bool first = true;
    while (pos < version->size()) {
        std::size_t b = version->find_first_not_of(' ', pos);
        if (b == std::string::npos) break;
        std::size_t e = version->find(' ', b);
        std::string word = version->substr(b, e == std::string::npos ? std::string::npos : e - b);
        pos = e == std::string::npos ? version->size() : e;
        if (first && word[0] == '#') {
            first = false;
            continue;
        }
        first = false;
        bool flag = word.size() >= 2;
        for (char c : word) flag = flag && ((c >= 'A' && c <= 'Z') || c == '_');
        if (!flag) break;
        out += (out.empty() ? "" : " ") + word;
    }
    if (out.empty()) return std::nullopt;
    return out;
}

// Telephone country code for the territory of the system locale, as the
// country code is given elsewhere; the territory letters when not listed.
std::optional<std::string> countryCode(MachineData& m) {
    std::optional<std::string> lang;
    for (const char* file : {"/etc/default/locale", "/etc/locale.conf"}) {
        if (const auto& text = m.files.read(file)) {
            auto kv = parseKeyValues(*text);
            auto it = kv.find("LANG");
            if (it != kv.end() && !it->second.empty()) {
                lang = it->second;
                break;
            }
        }
    }
    if (!lang) return std::nullopt;
    std::size_t underscore = lang->find('_');
    if (underscore == std::string::npos || underscore + 3 > lang->size()) return std::nullopt;
    const std::string territory = lang->substr(underscore + 1, 2);
    static const std::map<std::string, const char*> kCodes{
        {"US", "1"},   {"CA", "1"},   {"GB", "44"},  {"DE", "49"}, {"FR", "33"}, {"IT", "39"},  {"ES", "34"},
        {"NL", "31"},  {"BE", "32"},  {"AT", "43"},  {"CH", "41"}, {"SE", "46"}, {"NO", "47"},  {"DK", "45"},
        {"FI", "358"}, {"PL", "48"},  {"CZ", "420"}, {"PT", "351"}, {"IE", "353"}, {"JP", "81"}, {"CN", "86"},
        {"KR", "82"},  {"IN", "91"},  {"AU", "61"},  {"NZ", "64"}, {"BR", "55"}, {"MX", "52"},  {"RU", "7"},
        {"TR", "90"},  {"GR", "30"},  {"HU", "36"},  {"LU", "352"}, {"ZA", "27"}, {"UA", "380"}};
    auto it = kCodes.find(territory);
    return it != kCodes.end() ? std::string(it->second) : territory;
}
}  // namespace

Objects buildOperatingSystem(MachineData& m) {
    std::map<std::string, std::string> release;
    const auto& osRelease = m.files.read("/etc/os-release");
    const auto& text = osRelease ? osRelease : m.files.read("/usr/lib/os-release");
    if (text) release = parseKeyValues(*text);
    auto get = [&](const char* key) -> std::optional<std::string> {
        auto it = release.find(key);
        if (it == release.end() || it->second.empty()) return std::nullopt;
        return it->second;
    };
    auto caption = either(get("PRETTY_NAME"), either(get("NAME"), std::optional<std::string>("Linux")));
    auto kernelVersion = m.files.attribute("/proc/sys/kernel/version");
    auto machine = m.machineArchitecture();
    PropertyObject o;
    o.set("Caption", textOrNull(caption));
    o.set("Name", textOrNull(caption));
    o.set("Manufacturer", textOrNull(get("NAME")));
    o.set("Version", textOrNull(m.kernelRelease()));
    o.set("BuildNumber", textOrNull(get("VERSION_ID")));
    o.set("BuildType", textOrNull(buildType(kernelVersion)));
    o.set("CountryCode", textOrNull(countryCode(m)));
    o.set("CSDVersion", textOrNull(m.files.attribute("/etc/debian_version")));
    o.set("OSArchitecture", machine ? Value::text(m.is64Bit() ? "64-bit" : "32-bit") : Value::null());
    o.set("CSName", textOrNull(m.files.attribute("/proc/sys/kernel/hostname")));
    auto memory = m.memTotalBytes();
    o.set("TotalVisibleMemorySize", memory ? Value::text(std::to_string(*memory / 1024)) : Value::null());
    return {share(std::move(o))};
}

// Each package of each upgrade transaction becomes one update: its name is
// the update's id, the versions its description.
Objects buildQuickFixEngineering(MachineData& m) { return updatesFromHistory(m.files.read(kAptHistoryLog)); }

Objects updatesFromHistory(const std::optional<std::string>& text) {
    if (!text) return {};
    Objects out;
    for (const PackageUpgrade& u : parseAptHistory(*text)) {
        PropertyObject o;
        o.set("HotFixID", Value::text(u.package));
        o.set("Description", Value::text("Upgrade " + u.fromVersion + " -> " + u.toVersion));
        o.set("Caption", Value::null());
        std::optional<std::string> installedOn;
        if (u.date.size() == 10) {
            auto month = parseDecimal(u.date.substr(5, 2)), day = parseDecimal(u.date.substr(8, 2));
            if (month && day)
                installedOn = std::to_string(*month) + "/" + std::to_string(*day) + "/" + u.date.substr(0, 4);
        }
        o.set("InstalledOn", textOrNull(installedOn));
        o.set("InstalledBy", Value::null());
        out.push_back(share(std::move(o)));
    }
    return out;
}

}  // namespace veltrix::linux_provider
