#include "providers/linux/software_registry.h"

#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

namespace {
std::string_view trimTrailingBackslashes(std::string_view path) {
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    return path;
}
}  // namespace

std::string normaliseKeyPath(std::string_view path) {
    // Called for every value set and read: one allocation, lowered on the way.
    std::string out(path.size(), '\0');
    std::size_t n = 0;
    for (char c : path) {
        if (c == '\\' && (n == 0 || out[n - 1] == '\\')) continue;
        out[n++] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    while (n > 0 && out[n - 1] == '\\') --n;
    out.resize(n);
    return out;
}

RegistryTree::Key& RegistryTree::ensure(std::string_view keyPath) {
    // Most calls name a key that exists or whose parent does (a program's key
    // under the uninstall key): those need no walk from the root.
    std::string normalised = normaliseKeyPath(keyPath);
    auto existing = keys_.find(normalised);
    if (existing != keys_.end()) return existing->second;
    const std::size_t cut = normalised.rfind('\\');
    if (cut != std::string::npos) {
        auto parent = keys_.find(std::string_view(normalised).substr(0, cut));
        if (parent != keys_.end()) {
            std::string_view name = trimTrailingBackslashes(keyPath);
            name = name.substr(name.rfind('\\') + 1);
            parent->second.subkeys.emplace_back(name);
            return keys_.emplace(std::move(normalised), Key{}).first->second;
        }
    }
    std::string written;  // the path as given, normalised but not lower-cased
    for (char c : keyPath) {
        if (c == '\\' && (written.empty() || written.back() == '\\')) continue;
        written += c;
    }
    while (!written.empty() && written.back() == '\\') written.pop_back();
    keys_[""];  // the hive root
    std::size_t pos = 0;
    std::string parent;
    while (pos <= written.size() && !written.empty()) {
        std::size_t cut = written.find('\\', pos);
        if (cut == std::string::npos) cut = written.size();
        std::string name = written.substr(pos, cut - pos);
        std::string path = parent.empty() ? toLower(name) : parent + "\\" + toLower(name);
        if (keys_.find(path) == keys_.end()) {
            keys_[path];
            keys_[parent].subkeys.push_back(name);
        }
        parent = path;
        pos = cut + 1;
    }
    return keys_[normaliseKeyPath(keyPath)];
}

void RegistryTree::addKey(std::string_view keyPath) { ensure(keyPath); }

void RegistryTree::setValue(std::string_view keyPath, std::string valueName, std::string value) {
    ensure(keyPath).values[toLower(valueName)] = std::move(value);
}

void RegistryTree::setValues(std::string_view keyPath,
                             std::initializer_list<std::pair<std::string_view, std::string_view>> values) {
    Key& key = ensure(keyPath);
    for (const auto& [name, value] : values) key.values[toLower(name)] = std::string(value);
}

std::optional<std::vector<std::string>> RegistryTree::subkeys(std::string_view keyPath) const {
    auto it = keys_.find(normaliseKeyPath(keyPath));
    if (it == keys_.end()) return std::nullopt;
    return it->second.subkeys;
}

std::optional<std::string> RegistryTree::value(std::string_view keyPath, std::string_view valueName) const {
    auto it = keys_.find(normaliseKeyPath(keyPath));
    if (it == keys_.end()) return std::nullopt;
    auto v = it->second.values.find(toLower(valueName));
    if (v == it->second.values.end()) return std::nullopt;
    return v->second;
}

RegistryTree buildSoftwareRegistry(const std::vector<InstalledPackage>& packages) {
    RegistryTree tree;
    tree.addKey(kUninstallKey);
    tree.addKey(kForeignUninstallKey);
    const std::string native = nativeArchitecture(packages);
    for (const InstalledPackage& p : packages) {
        const bool foreign = !p.architecture.empty() && p.architecture != "all" && p.architecture != native;
        // Key names must stay unique: a foreign package may share its name
        // with a native one.
        const std::string key = std::string(foreign ? kForeignUninstallKey : kUninstallKey) + "\\" + p.name +
                                (foreign ? ":" + p.architecture : std::string());
        tree.setValues(key, {{"DisplayName", p.name}, {"DisplayVersion", p.version}});
    }
    return tree;
}

}  // namespace veltrix::linux_provider
