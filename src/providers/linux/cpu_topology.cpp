#include "providers/linux/cpu_topology.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>

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

    std::set<std::uint64_t> cpus;
    for (const std::string& e : files.list("/sys/devices/system/cpu"))
        if (e.size() > 3 && startsWith(e, "cpu"))
            if (auto n = parseDecimal(std::string_view(e).substr(3))) cpus.insert(*n);
    for (const auto& [n, f] : info) cpus.insert(n);

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
        p.name = collapseBlanks(get("model name").value_or(get("Hardware").value_or(get("cpu").value_or(""))));
        p.vendor = get("vendor_id");
        p.family = field(f, "cpu family");
        p.model = field(f, "model");
        p.stepping = field(f, "stepping");

        const std::string cpuBase = "/sys/devices/system/cpu/cpu" + std::to_string(first);
        if (auto khz = files.number(cpuBase + "/cpufreq/cpuinfo_max_freq")) p.maxMhz = (*khz + 500) / 1000;
        else if (auto mhz = get("cpu MHz")) p.maxMhz = static_cast<std::uint64_t>(std::llround(std::atof(mhz->c_str())));

        std::set<std::string> seen;
        std::uint64_t l2 = 0;
        bool anyL2 = false;
        for (std::uint64_t cpu : g.cpus) {
            const std::string cache = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/cache";
            for (const std::string& index : files.list(cache)) {
                if (!startsWith(index, "index")) continue;
                const std::string ib = cache + "/" + index;
                if (files.number(ib + "/level") != std::optional<std::uint64_t>(2)) continue;
                auto shared = files.attribute(ib + "/shared_cpu_list").value_or(std::to_string(cpu));
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
