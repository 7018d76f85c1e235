#include "providers/linux/software_registry.h"

#include <cstring>
#include <tuple>

#include "core/ascii.h"

namespace veltrix::linux_provider {

namespace {
std::string_view trimTrailingBackslashes(std::string_view path) {
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    return path;
}

const std::string& uninstallParent(int which) {
    static const std::string kParents[2] = {lowerAscii(kUninstallKey), lowerAscii(kForeignUninstallKey)};
    return kParents[which];
}

// The name after the parent that ends at `i`: backslashes, one name, maybe
// trailing backslashes; empty when the path does not go on that way.
std::string_view childAfter(std::string_view path, std::size_t i) {
    if (i >= path.size() || path[i] != '\\') return {};
    while (i < path.size() && path[i] == '\\') ++i;
    std::string_view rest = trimTrailingBackslashes(path.substr(i));
    if (rest.find('\\') != std::string_view::npos) return {};
    return rest;
}

// The name of the key directly under `parent` (lower case, single
// backslashes) that `path` names, in any case and with stray backslashes;
// empty when `path` names no such key.
std::string_view childOf(std::string_view path, std::string_view parent) {
    std::size_t i = 0;
    while (i < path.size() && path[i] == '\\') ++i;
    for (char p : parent) {
        if (i >= path.size()) return {};
        if (p == '\\') {
            if (path[i] != '\\') return {};
            while (i < path.size() && path[i] == '\\') ++i;
            continue;
        }
        if (foldAscii(path[i]) != p) return {};
        ++i;
    }
    return childAfter(path, i);
}
}  // namespace

std::string normaliseKeyPath(std::string_view path) {
    // Called for every key set and every read off the programs' keys: one
    // allocation, lowered on the way.
    std::string out(path.size(), '\0');
    std::size_t n = 0;
    for (char c : path) {
        if (c == '\\' && (n == 0 || out[n - 1] == '\\')) continue;
        out[n++] = foldAscii(c);
    }
    while (n > 0 && out[n - 1] == '\\') --n;
    out.resize(n);
    return out;
}

std::size_t RegistryTree::FoldedHash::operator()(std::string_view name) const {
    // Eight bytes at a time, each with the bit that tells a capital letter
    // from a small one set: names equal but for letter case hash alike (other
    // characters may meet too, which the equality test then tells apart).
    constexpr std::uint64_t kSmall = 0x2020202020202020ull;
    std::uint64_t h = 14695981039346656037ull ^ name.size();
    std::size_t i = 0;
    for (std::uint64_t word; i + 8 <= name.size(); i += 8) {
        std::memcpy(&word, name.data() + i, 8);
        h = (h ^ (word | kSmall)) * 1099511628211ull;
        h ^= h >> 32;
    }
    if (i < name.size()) {
        std::uint64_t tail = 0;
        for (; i < name.size(); ++i) tail = (tail << 8) | (static_cast<unsigned char>(name[i]) | 0x20u);
        h = (h ^ tail) * 1099511628211ull;
    }
    return static_cast<std::size_t>(h ^ (h >> 29));
}

bool RegistryTree::FoldedEqual::operator()(std::string_view a, std::string_view b) const {
    return equalsIgnoringCase(a, b);
}

const RegistryTree::Key* RegistryTree::find(std::string_view path) const {
    return const_cast<RegistryTree*>(this)->find(path);
}

RegistryTree::Key* RegistryTree::find(std::string_view path) {
    for (int which = 0; which < 2; ++which) {
        const std::string& parent = uninstallParent(which);
        if (path.size() > parent.size() + 1 && path[parent.size()] == '\\' &&
            path.compare(0, parent.size(), parent) == 0) {
            const std::string_view name = path.substr(parent.size() + 1);
            if (name.find('\\') != std::string_view::npos) break;  // deeper: kept with the others
            return programs_[which].find(name);
        }
    }
    auto it = keys_.find(path);
    return it == keys_.end() ? nullptr : &it->second;
}

std::string_view RegistryTree::own(std::string_view text) { return texts_.emplace_back(text); }

RegistryTree::Key& RegistryTree::insert(std::string path, std::string_view parentPath, std::string_view name) {
    lastRead_.valid = false;
    const std::string_view kept = own(name);
    find(parentPath)->subkeys.push_back(kept);
    for (int which = 0; which < 2; ++which)
        if (parentPath == uninstallParent(which)) return *programs_[which].tryEmplace(kept).first;
    return keys_.emplace(std::move(path), Key{}).first->second;
}

RegistryTree::Key& RegistryTree::ensure(std::string_view keyPath) {
    std::string normalised = normaliseKeyPath(keyPath);
    if (Key* existing = find(normalised)) return *existing;
    // The names as written, for the parents' subkey lists.
    std::vector<std::string_view> names;
    for (std::size_t pos = 0; pos < keyPath.size();) {
        std::size_t cut = keyPath.find('\\', pos);
        if (cut == std::string_view::npos) cut = keyPath.size();
        if (cut > pos) names.push_back(keyPath.substr(pos, cut - pos));
        pos = cut + 1;
    }
    keys_.try_emplace(std::string());  // the hive root
    // Most calls name a key whose parent exists: those need no walk from
    // the root.
    std::size_t cut = normalised.rfind('\\');
    std::size_t from = names.empty() ? 0 : names.size() - 1;
    if (cut == std::string::npos || !find(std::string_view(normalised).substr(0, cut))) {
        from = 0;
        cut = 0;
    }
    const std::string_view whole = normalised;
    for (std::size_t i = from; i < names.size(); ++i) {
        const std::size_t end = i == 0 ? names[0].size() : cut + 1 + names[i].size();
        const std::string_view path = whole.substr(0, end);
        const std::string_view parent = i == 0 ? std::string_view() : whole.substr(0, cut);
        if (!find(path)) insert(std::string(path), parent, names[i]);
        cut = end;
    }
    return *find(whole);
}

const RegistryTree::Key* RegistryTree::program(std::string_view keyPath, bool& known) const {
    static constexpr std::string_view kWritten[2] = {kUninstallKey, kForeignUninstallKey};
    for (int which = 0; which < 2; ++which) {
        // Callers mostly spell the parent exactly as the constant does: one
        // plain comparison then, the letter-by-letter match otherwise.
        const std::string_view written = kWritten[which];
        const std::string_view name = keyPath.substr(0, written.size()) == written
                                          ? childAfter(keyPath, written.size())
                                          : childOf(keyPath, uninstallParent(which));
        if (name.empty()) continue;
        known = true;
        return programs_[which].find(name);
    }
    known = false;
    return nullptr;
}

const std::string_view* RegistryTree::Key::findValue(std::string_view name) const {
    for (const auto& [n, v] : values)
        if (equalsIgnoringCase(n, name)) return &v;
    if (fromPackage) {
        if (equalsIgnoringCase(name, "DisplayName")) return &packageName;
        if (equalsIgnoringCase(name, "DisplayVersion")) return &packageVersion;
    }
    return nullptr;
}

void RegistryTree::Programs::reserve(std::size_t count) {
    entries_.reserve(count);
    std::size_t slots = 16;
    while (slots < 2 * count) slots *= 2;
    if (slots > slots_.size()) rehash(slots);
}

std::size_t RegistryTree::Programs::slotOf(std::string_view name) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = FoldedHash{}(name) & mask;
    while (slots_[slot] != 0 && !FoldedEqual{}(entries_[slots_[slot] - 1].first, name)) slot = (slot + 1) & mask;
    return slot;
}

void RegistryTree::Programs::rehash(std::size_t slotCount) {
    slots_.assign(slotCount, 0);
    for (std::size_t i = 0; i < entries_.size(); ++i) slots_[slotOf(entries_[i].first)] = static_cast<std::uint32_t>(i + 1);
}

RegistryTree::Key* RegistryTree::Programs::find(std::string_view name) {
    if (slots_.empty()) return nullptr;
    const std::uint32_t entry = slots_[slotOf(name)];
    return entry == 0 ? nullptr : &entries_[entry - 1].second;
}

const RegistryTree::Key* RegistryTree::Programs::find(std::string_view name) const {
    return const_cast<Programs*>(this)->find(name);
}

std::pair<RegistryTree::Key*, bool> RegistryTree::Programs::tryEmplace(std::string_view name) {
    // At most half full, so that a search soon meets a free slot.
    if (2 * (entries_.size() + 1) > slots_.size()) rehash(slots_.empty() ? 16 : 2 * slots_.size());
    const std::size_t slot = slotOf(name);
    if (slots_[slot] != 0) return {&entries_[slots_[slot] - 1].second, false};
    entries_.emplace_back(name, Key{});
    slots_[slot] = static_cast<std::uint32_t>(entries_.size());
    return {&entries_.back().second, true};
}

void RegistryTree::setIn(Key& key, std::string_view name, std::string_view value) {
    for (auto& [n, v] : key.values)
        if (equalsIgnoringCase(n, name)) {
            v = value;
            return;
        }
    key.values.emplace_back(name, value);
}

void RegistryTree::addKey(std::string_view keyPath) { ensure(keyPath); }

void RegistryTree::setValue(std::string_view keyPath, std::string valueName, std::string value) {
    setIn(ensure(keyPath), own(valueName), own(value));
}

void RegistryTree::setValues(std::string_view keyPath,
                             std::initializer_list<std::pair<std::string_view, std::string_view>> values) {
    Key& key = ensure(keyPath);
    for (const auto& [name, value] : values) setIn(key, own(name), own(value));
}

std::optional<std::vector<std::string>> RegistryTree::subkeys(std::string_view keyPath) const {
    const Key* key = find(normaliseKeyPath(keyPath));
    if (!key) return std::nullopt;
    return std::vector<std::string>(key->subkeys.begin(), key->subkeys.end());
}

std::optional<std::string> RegistryTree::value(std::string_view keyPath, std::string_view valueName) const {
    auto found = valueView(keyPath, valueName);
    if (!found) return std::nullopt;
    return std::string(*found);
}

std::optional<std::string_view> RegistryTree::valueView(std::string_view keyPath, std::string_view valueName) const {
    const Key* key = nullptr;
    if (lastRead_.valid && lastRead_.path == keyPath) {
        key = lastRead_.key;
    } else {
        bool known = false;
        key = program(keyPath, known);
        if (!known) key = find(normaliseKeyPath(keyPath));
        lastRead_.path.assign(keyPath);
        lastRead_.key = key;
        lastRead_.valid = true;
    }
    if (!key) return std::nullopt;
    if (const std::string_view* found = key->findValue(valueName)) return *found;
    return std::nullopt;
}

RegistryTree buildSoftwareRegistry(const std::vector<InstalledPackage>& packages) {
    RegistryTree tree;
    tree.addKey(kUninstallKey);
    tree.addKey(kForeignUninstallKey);
    RegistryTree::Key* parents[2] = {tree.find(uninstallParent(0)), tree.find(uninstallParent(1))};
    tree.programs_[0].reserve(packages.size());
    parents[0]->subkeys.reserve(packages.size());
    const std::string native = nativeArchitecture(packages);
    std::string qualified;
    for (const InstalledPackage& p : packages) {
        // A name that is empty or holds a backslash would not name one key.
        if (p.name.empty() || p.name.find('\\') != std::string_view::npos) continue;
        const bool foreign = !p.architecture.empty() && p.architecture != "all" && p.architecture != native;
        // Key names must stay unique: a foreign package may share its name
        // with a native one. Native names are the package's own text.
        std::string_view name = p.name;
        if (foreign) {
            if (p.architecture.find('\\') != std::string_view::npos) continue;
            qualified.assign(p.name).append(1, ':').append(p.architecture);
            name = qualified;
        }
        RegistryTree::Programs& programs = tree.programs_[foreign ? 1 : 0];
        RegistryTree::Key* key = nullptr;
        bool added = false;
        if (!foreign) {
            std::tie(key, added) = programs.tryEmplace(name);
        } else if (key = programs.find(name); !key) {
            // A foreign name is kept by the tree, once it is known to be new.
            name = tree.own(name);
            std::tie(key, added) = programs.tryEmplace(name);
        }
        if (added) {
            key->fromPackage = true;
            parents[foreign ? 1 : 0]->subkeys.push_back(name);
        }
        // Listed twice: the later entry's values win.
        key->packageName = p.name;
        key->packageVersion = p.version;
    }
    return tree;
}

}  // namespace veltrix::linux_provider
