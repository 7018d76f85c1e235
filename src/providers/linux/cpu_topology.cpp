#include "providers/linux/cpu_topology.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <tuple>

#include "providers/linux/cpu_names.h"
#include "providers/linux/class_builders.h"
#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

namespace {
using Fields = std::map<std::string, std::string>;

// One block per logical processor, keyed by its "processor" number (s390:
// "cpu number", its clocks' blocks after the shared lines).
std::map<std::uint64_t, Fields> parseCpuinfo(std::string_view text, Fields& global) {
    std::map<std::uint64_t, Fields> out;
    Fields block;
    auto flush = [&] {
        auto it = block.find("processor");
        if (it == block.end()) it = block.find("cpu number");
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

// "00000000,0000000f" (32-bit words, the highest first) -> {0, 1, 2, 3}: the
// only form older kernels give the sibling sets in.
std::set<std::uint64_t> parseCpuMask(std::string_view text) {
    std::set<std::uint64_t> out;
    std::vector<std::string_view> words;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t comma = std::min(text.find(',', pos), text.size());
        words.push_back(trimView(text.substr(pos, comma - pos)));
        pos = comma + 1;
    }
    if (words.size() > 2048) return {};
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string_view word = words[words.size() - 1 - i];
        auto bits = word.size() <= 8 ? parseHex(word) : std::nullopt;
        if (!bits) return {};
        for (std::uint64_t b = 0; b < 32; ++b)
            if (*bits >> b & 1) out.insert(i * 32 + b);
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

// "2.80GHz" after the "@" of a name such as "Intel(R) Core(TM) i7-1165G7 @
// 2.80GHz": the part's rated clock, printed by its maker.
std::optional<std::uint64_t> ratedMhzInName(std::string_view name) {
    std::size_t at = name.rfind('@');
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view after = trimView(name.substr(at + 1));
    if (after.find(' ') != std::string_view::npos) return std::nullopt;
    return mhzInName(after);
}

// Clocks the firmware fixed and the kernel passes on as they are: POWER's
// "clock" (taken only where no cpufreq driver runs, which turns it into the
// current clock), s390's static clock, SPARC's clock tick in Hz.
std::optional<std::uint64_t> firmwareMhz(SystemTree& files, const std::string& cpuBase, std::uint64_t cpu,
                                         const std::function<std::optional<std::string>(const char*)>& get) {
    if (auto clock = get("clock"); clock && clock->ends_with("MHz")) {
        std::string_view digits = std::string_view(*clock).substr(0, clock->size() - 3);
        if (auto whole = parseDecimal(digits.substr(0, digits.find('.'))); whole && *whole > 0) return whole;
    }
    if (auto mhz = get("cpu MHz static"); mhz && parseDecimal(*mhz) && *parseDecimal(*mhz) > 0)
        return parseDecimal(*mhz);
    auto hz = files.number(cpuBase + "/clock_tick");
    if (!hz) {
        const std::string key = "Cpu" + std::to_string(cpu) + "ClkTck";
        if (auto tick = get(key.c_str())) hz = parseHex(*tick);
    }
    if (hz && *hz >= 500000) return (*hz + 500000) / 1000000;
    return std::nullopt;
}

// The processor's nominal clock, as Windows reports it: never the current
// clock, which follows the load, nor the turbo clock. The maker's rated
// clock in the name comes first: at a lowered configurable TDP the base
// frequency cpufreq gives is the lowered one, not the part's rating.
std::optional<std::uint64_t> nominalMhz(SystemTree& files, const std::string& cpuBase, std::uint64_t cpu,
                                        const std::string& name,
                                        const std::function<std::optional<std::string>(const char*)>& get) {
    auto khzToMhz = [](std::uint64_t khz) { return (khz + 500) / 1000; };
    if (auto mhz = ratedMhzInName(name)) return mhz;
    if (auto khz = files.number(cpuBase + "/cpufreq/base_frequency")) return khzToMhz(*khz);
    if (auto khz = files.number(cpuBase + "/cpufreq/amd_pstate_nominal_freq")) return khzToMhz(*khz);
    if (auto mhz = files.number(cpuBase + "/acpi_cppc/nominal_freq"); mhz && *mhz > 0) return mhz;
    if (auto mhz = mhzInName(name)) return mhz;
    if (auto khz = files.number(cpuBase + "/cpufreq/cpuinfo_max_freq")) return khzToMhz(*khz);
    return firmwareMhz(files, cpuBase, cpu, get);
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

    // Where each processor sits. The kernel's sibling sets say which
    // processors share a core and a package; the ids only number them, and
    // not everywhere so that they tell them apart: some ARM machines number
    // the cores of each cluster from 0, and a package id of -1 with every
    // core id 0 means only that the firmware gave none. The ids place a
    // processor only where the kernel gives no sets.
    struct Place {
        std::uint64_t cpu;
        std::optional<std::uint64_t> packageId, coreId;
        std::optional<std::uint64_t> packageSet, coreSet, clusterSet;  // each by its lowest online processor
    };
    auto setOf = [&](const std::string& topology, std::uint64_t cpu, std::initializer_list<const char*> lists,
                     std::initializer_list<const char*> masks) -> std::optional<std::uint64_t> {
        auto lowestOnline = [&](const std::set<std::uint64_t>& set) -> std::optional<std::uint64_t> {
            // A set that leaves out the processor itself is not taken at its word.
            if (!set.count(cpu)) return std::nullopt;
            for (std::uint64_t n : set)
                if (cpus.count(n)) return n;
            return std::nullopt;
        };
        for (const char* name : lists)
            if (auto text = files.attribute(topology + name))
                if (auto lowest = lowestOnline(parseCpuList(*text))) return lowest;
        for (const char* name : masks)
            if (auto text = files.attribute(topology + name))
                if (auto lowest = lowestOnline(parseCpuMask(*text))) return lowest;
        return std::nullopt;
    };
    std::vector<Place> places;
    bool everyPackageSet = true, everyCoreSet = true;
    for (std::uint64_t cpu : cpus) {
        const std::string topology = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
        const Fields* f = info.count(cpu) ? &info[cpu] : nullptr;
        Place place{cpu, files.number(topology + "physical_package_id"), files.number(topology + "core_id")};
        if (!place.packageId && f) place.packageId = field(*f, "physical id");
        if (!place.coreId && f) place.coreId = field(*f, "core id");
        place.packageSet =
            setOf(topology, cpu, {"package_cpus_list", "core_siblings_list"}, {"package_cpus", "core_siblings"});
        place.coreSet =
            setOf(topology, cpu, {"core_cpus_list", "thread_siblings_list"}, {"core_cpus", "thread_siblings"});
        place.clusterSet = setOf(topology, cpu, {"cluster_cpus_list"}, {"cluster_cpus"});
        everyPackageSet = everyPackageSet && place.packageSet;
        everyCoreSet = everyCoreSet && place.coreSet;
        places.push_back(place);
    }

    struct Group {
        std::vector<std::uint64_t> cpus;
        std::set<std::pair<std::uint64_t, std::uint64_t>> cores;
        std::set<std::optional<std::uint64_t>> ids;
    };
    std::map<std::uint64_t, Group> byKey;
    for (const Place& place : places) {
        Group& g = byKey[everyPackageSet ? *place.packageSet : place.packageId.value_or(0)];
        g.cpus.push_back(place.cpu);
        g.ids.insert(place.packageId);
        // Core ids repeat from one cluster to the next where they are
        // numbered within it.
        if (everyCoreSet) g.cores.insert({0, *place.coreSet});
        else if (place.coreId && place.clusterSet) g.cores.insert({*place.clusterSet + 1, *place.coreId});
        else g.cores.insert({0, place.coreId.value_or(place.cpu)});
    }
    // Packages in the order of their ids where each has one of its own (as
    // Windows numbers sockets), else of their lowest processor.
    std::map<std::optional<std::uint64_t>, int> idUses;
    for (const auto& [key, g] : byKey)
        if (g.ids.size() == 1) ++idUses[*g.ids.begin()];
    std::vector<const Group*> groups;
    for (const auto& [key, g] : byKey) groups.push_back(&g);
    auto order = [&](const Group* g) {
        const auto& id = *g->ids.begin();
        const bool ownId = g->ids.size() == 1 && id && idUses[id] == 1;
        return std::tuple(ownId ? 0 : 1, ownId ? *id : 0, g->cpus.front());
    };
    std::stable_sort(groups.begin(), groups.end(),
                     [&](const Group* a, const Group* b) { return order(a) < order(b); });

    std::vector<CpuPackage> out;
    for (const Group* group : groups) {
        const Group& g = *group;
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
        const CpuinfoName named = processorNameFromCpuinfo(get);
        p.name = collapseBlanks(named.name.value_or(""));
        if (p.name.empty()) p.name = collapseBlanks(deviceTreeModel(files).value_or(named.fallbackName));
        p.vendor = named.vendor;
        p.family = field(f, "cpu family");
        p.model = field(f, "model");
        p.stepping = field(f, "stepping");

        const std::string cpuBase = "/sys/devices/system/cpu/cpu" + std::to_string(first);
        p.maxMhz = nominalMhz(files, cpuBase, first, p.name, get);

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
