#include "providers/linux/cpu_topology.h"

#include <algorithm>
#include <map>
#include <set>

#include "providers/linux/arm_cpu_names.h"
#include "providers/linux/class_builders.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

namespace {
using Fields = std::map<std::string, std::string>;

// One block per logical processor, keyed by its "processor" number.
std::map<std::uint64_t, Fields> parseCpuinfo(std::string_view text, Fields& global) {
    std::map<std::uint64_t, Fields> out;
    Fields block;
    auto flush = [&] {
        auto it = block.find("processor");
        if (it != block.end()) {
            if (auto n = parseDecimal(it->second)) out[*n] = block;
        } else {
            for (auto& [k, v] : block) global[k] = v;  // e.g. "Hardware" on ARM
        }
        block.clear();
    };
    for (std::string_view line : splitLines(text)) {
        std::size_t colon = line.find(':');
        if (trim(line).empty()) {
            flush();
            continue;
        }
        if (colon == std::string_view::npos) continue;
        block[trim(line.substr(0, colon))] = trim(line.substr(colon + 1));
    }
    flush();
    return out;
}

std::optional<std::uint64_t> field(const Fields& f, const char* key) {
    auto it = f.find(key);
    return it == f.end() ? std::nullopt : parseDecimal(it->second);
}

std::optional<std::uint64_t> cacheKb(const std::string& size) {
    // "1280K", "2M", "512"
    std::string s = trim(size);
    if (s.empty()) return std::nullopt;
    std::uint64_t factor = 1;
    if (s.back() == 'K') s.pop_back();
    else if (s.back() == 'M') factor = 1024, s.pop_back();
    auto n = parseDecimal(s);
    if (!n) return std::nullopt;
    return *n * factor;
}

// "0-3,8,10-11" -> {0, 1, 2, 3, 8, 10, 11}
std::set<std::uint64_t> parseCpuList(std::string_view text) {
    std::set<std::uint64_t> out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t comma = std::min(text.find(',', pos), text.size());
        std::string_view range = text.substr(pos, comma - pos);
        std::size_t dash = range.find('-');
        auto from = parseDecimal(range.substr(0, dash));
        auto to = dash == std::string_view::npos ? from : parseDecimal(range.substr(dash + 1));
        // A range beyond any machine's processors is not taken at its word.
        if (from && to && *from <= *to && *to - *from < 65536)
            for (std::uint64_t n = *from; n <= *to; ++n) out.insert(n);
        pos = comma + 1;
    }
    return out;
}

// "... @ 2.67GHz" (or a last word "2.60GHz" in older names) -> 2670.
std::optional<std::uint64_t> mhzInName(std::string_view name) {
    std::string_view word = trimView(name);
    word = word.substr(std::min(word.size(), word.rfind(' ') + 1));
    std::uint64_t factor = 0;
    if (word.size() > 3 && word.substr(word.size() - 3) == "GHz") factor = 1000;
    else if (word.size() > 3 && word.substr(word.size() - 3) == "MHz") factor = 1;
    if (factor == 0) return std::nullopt;
    word.remove_suffix(3);
    std::size_t dot = word.find('.');
    auto whole = parseDecimal(word.substr(0, dot));
    if (!whole) return std::nullopt;
    std::uint64_t mhz = *whole * factor;
    if (dot != std::string_view::npos) {
        std::string_view fraction = word.substr(dot + 1);
        if (fraction.empty() || fraction.size() > 3 || !parseDecimal(fraction)) return std::nullopt;
        std::uint64_t scale = factor;
        for (char c : fraction) {
            scale /= 10;
            mhz += static_cast<std::uint64_t>(c - '0') * scale;
        }
    }
    return mhz > 0 ? std::optional<std::uint64_t>(mhz) : std::nullopt;
}

// The processor's nominal clock, as Windows reports it: never the current
// clock, which follows the load, nor the turbo clock.
std::optional<std::uint64_t> nominalMhz(SystemTree& files, const std::string& cpuBase, const std::string& name) {
    auto khzToMhz = [](std::uint64_t khz) { return (khz + 500) / 1000; };
    if (auto khz = files.number(cpuBase + "/cpufreq/base_frequency")) return khzToMhz(*khz);
    if (auto khz = files.number(cpuBase + "/cpufreq/amd_pstate_nominal_freq")) return khzToMhz(*khz);
    if (auto mhz = files.number(cpuBase + "/acpi_cppc/nominal_freq"); mhz && *mhz > 0) return mhz;
    if (auto mhz = mhzInName(name)) return mhz;
    if (auto khz = files.number(cpuBase + "/cpufreq/cpuinfo_max_freq")) return khzToMhz(*khz);
    return std::nullopt;
}

std::optional<std::string> deviceTreeModel(SystemTree& files) {
    const auto& model = files.read("/proc/device-tree/model");
    const auto& text = model ? model : files.read("/sys/firmware/devicetree/base/model");
    if (!text) return std::nullopt;
    // The property is a C string.
    std::string out = trim(std::string_view(*text).substr(0, text->find('\0')));
    if (out.empty()) return std::nullopt;
    return out;
}

std::string collapseBlanks(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}
}  // namespace

std::vector<CpuPackage> readCpuPackages(MachineData& m) {
    SystemTree& files = m.files;
    Fields global;
    std::map<std::uint64_t, Fields> info;
    if (const auto& text = files.read("/proc/cpuinfo")) info = parseCpuinfo(*text, global);

    // Only processors that are online count: an offline one has no
    // topology left to place it, and Windows does not count it either.
    std::set<std::uint64_t> cpus;
    for (const std::string& e : files.list("/sys/devices/system/cpu"))
        if (e.size() > 3 && startsWith(e, "cpu"))
            if (auto n = parseDecimal(std::string_view(e).substr(3))) cpus.insert(*n);
    for (const auto& [n, f] : info) cpus.insert(n);
    const auto online = files.attribute("/sys/devices/system/cpu/online");
    const std::set<std::uint64_t> listed = online ? parseCpuList(*online) : std::set<std::uint64_t>{};
    if (!listed.empty()) {
        std::erase_if(cpus, [&](std::uint64_t cpu) { return !listed.count(cpu); });
    } else {
        std::erase_if(cpus, [&](std::uint64_t cpu) {
            return files.number("/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/online") ==
                   std::optional<std::uint64_t>(0);
        });
    }

    struct Group {
        std::vector<std::uint64_t> cpus;
        std::set<std::uint64_t> cores;
    };
    std::map<std::uint64_t, Group> groups;
    for (std::uint64_t cpu : cpus) {
        const std::string base = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
        const Fields* f = info.count(cpu) ? &info[cpu] : nullptr;
        auto package = files.number(base + "physical_package_id");
        if (!package && f) package = field(*f, "physical id");
        auto core = files.number(base + "core_id");
        if (!core && f) core = field(*f, "core id");
        Group& g = groups[package.value_or(0)];
        g.cpus.push_back(cpu);
        g.cores.insert(core.value_or(cpu));
    }

    std::vector<CpuPackage> out;
    for (const auto& [id, g] : groups) {
        CpuPackage p;
        p.threads = static_cast<int>(g.cpus.size());
        p.cores = static_cast<int>(g.cores.size());
        const std::uint64_t first = g.cpus.front();
        const Fields f = info.count(first) ? info[first] : Fields{};
        auto get = [&](const char* key) -> std::optional<std::string> {
            auto it = f.find(key);
            if (it != f.end() && !it->second.empty()) return it->second;
            auto git = global.find(key);
            if (git != global.end() && !git->second.empty()) return git->second;
            return std::nullopt;
        };
        const auto armCpu = armProcessor(get("CPU implementer"), get("CPU part"));
        p.name = collapseBlanks(get("model name")
                                    .value_or(armCpu.name.value_or(get("Hardware").value_or(get("cpu").value_or("")))));
        if (p.name.empty()) p.name = collapseBlanks(deviceTreeModel(files).value_or(armCpu.fallbackName));
        p.vendor = either(get("vendor_id"), armCpu.vendor);
        p.family = field(f, "cpu family");
        p.model = field(f, "model");
        p.stepping = field(f, "stepping");

        p.maxMhz = nominalMhz(files, "/sys/devices/system/cpu/cpu" + std::to_string(first), p.name);

        std::set<std::string> seen;
        std::uint64_t l2 = 0;
        bool anyL2 = false;
        for (std::uint64_t cpu : g.cpus) {
            const std::string cache = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cache";
            for (const std::string& index : files.list(cache)) {
                if (!startsWith(index, "index")) continue;
                const std::string ib = cache + "/" + index;
                if (files.number(ib + "/level") != std::optional<std::uint64_t>(2)) continue;
                // Older kernels give the sharing only as a mask.
                auto shared = either(files.attribute(ib + "/shared_cpu_list"), files.attribute(ib + "/shared_cpu_map"))
                                  .value_or(std::to_string(cpu));
                auto size = files.attribute(ib + "/size");
                if (!size || !seen.insert(shared).second) continue;
                if (auto kb = cacheKb(*size)) l2 += *kb, anyL2 = true;
            }
        }
        if (anyL2) p.l2Kb = l2;
        out.push_back(std::move(p));
    }
    return out;
}

}  // namespace veltrix::linux_provider
