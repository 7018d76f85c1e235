#include "providers/linux/software_registry.h"

#include "providers/linux/text_util.h"

namespace veltrix::linux_provider {

std::string normaliseKeyPath(std::string_view path) {
    std::string out;
    for (char c : path) {
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == '\\') out.pop_back();
    return toLower(out);
}

RegistryTree::Key& RegistryTree::ensure(std::string_view keyPath) {
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
        tree.setValue(key, "DisplayName", p.name);
        tree.setValue(key, "DisplayVersion", p.version);
    }
    return tree;
}

}  // namespace veltrix::linux_provider
