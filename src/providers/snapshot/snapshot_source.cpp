#include "providers/snapshot/snapshot_source.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <unordered_set>

#include "core/ascii.h"
#include "providers/snapshot/json_position.h"
#include "providers/snapshot/machine_json.h"
#include "wmi/property_object.h"

namespace veltrix::snapshot {

using Json = nlohmann::ordered_json;
using wmi::Value;

namespace {

struct Refusal {
    std::size_t offset;
    std::string what;
};

// A value as a message quotes it: scalars as written, cut short when long;
// containers by their kind only.
std::string shortForm(const Json& value) {
    if (value.is_object()) return "(an object)";
    if (value.is_array()) return "(an array)";
    std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    constexpr std::size_t kLongest = 40;
    if (text.size() > kLongest) text = text.substr(0, kLongest) + "...";
    return text;
}

}  // namespace

// Checks the parsed document and fills a SnapshotSource. A shape error names
// the JSON path of the offending value; its text position is only worked out
// when the file is refused.
struct SnapshotParser {
    SnapshotSource& out;
    std::string_view text;
    std::vector<std::size_t> path;
    std::optional<Refusal> refusal;

    bool refuse(std::string what, bool atKey = false) {
        refusal = Refusal{offsetOfPath(text, path, atKey), std::move(what)};
        return false;
    }

    // Walks the members of an object in file order, keeping `path` current.
    template <class Visit>
    bool members(const Json& object, Visit visit) {
        std::size_t index = 0;
        for (auto it = object.begin(); it != object.end(); ++it, ++index) {
            path.push_back(index);
            bool ok = visit(it.key(), it.value());
            path.pop_back();
            if (!ok) return false;
        }
        return true;
    }

    bool document(const Json& root) {
        if (!root.is_object()) return refuse("a snapshot is a JSON object");
        auto version = root.find("veltrix-snapshot");
        if (version == root.end()) return refuse("the member \"veltrix-snapshot\" (the format version) is missing");
        return members(root, [&](const std::string& key, const Json& value) {
            if (key == "veltrix-snapshot") {
                if (!value.is_number_integer() || value.get<std::int64_t>() < 1 ||
                    value.get<std::int64_t>() > kSnapshotFormatVersion) {
                    return refuse("unsupported snapshot format version " + shortForm(value) +
                                  " (this program reads versions 1 to " + std::to_string(kSnapshotFormatVersion) +
                                  ")");
                }
                return true;
            }
            if (key == "taken-at") {
                if (!value.is_string()) return refuse("\"taken-at\" must be text");
                auto when = ParseIso8601(value.get_ref<const std::string&>());
                if (!when) {
                    return refuse("\"taken-at\" must be a time such as 2026-12-09T05:14:03+01:00, not " +
                                  shortForm(value));
                }
                out.takenAtText_ = value.get<std::string>();
                out.takenAt_ = *when;
                return true;
            }
            if (key == "machine") {
                auto identity = MachineFromJson(value);
                if (!identity) return refuse(identity.failure().description);
                out.machine_ = std::move(*identity);
                return true;
            }
            if (key == "source") {
                if (!value.is_string()) return refuse("\"source\" must be text");
                out.source_ = value.get<std::string>();
                return true;
            }
            if (key == "connect-error") {
                auto failure = error(value);
                if (failure) out.connectError_ = *failure;
                return failure.has_value();
            }
            if (key == "namespaces") return namespaces(value);
            if (key == "registry") return registry(value);
            return refuse("unknown member \"" + key + "\"", true);
        });
    }

    std::optional<Failure> error(const Json& value) {
        if (!value.is_object()) {
            refuse("an error must be an object with \"number\" and \"description\"");
            return std::nullopt;
        }
        Failure failure;
        bool hasNumber = false, hasDescription = false;
        bool ok = members(value, [&](const std::string& key, const Json& member) {
            if (key == "number") {
                if (!member.is_number_integer() || member.get<std::int64_t>() <= 0 ||
                    member.get<std::int64_t>() > std::numeric_limits<std::int32_t>::max()) {
                    return refuse("an error number must be a whole number from 1 to 2147483647");
                }
                failure.number = static_cast<std::int32_t>(member.get<std::int64_t>());
                hasNumber = true;
                return true;
            }
            if (key == "description") {
                if (!member.is_string()) return refuse("an error description must be text");
                failure.description = member.get<std::string>();
                hasDescription = true;
                return true;
            }
            return refuse("unknown member \"" + key + "\" in an error", true);
        });
        if (!ok) return std::nullopt;
        if (!hasNumber || !hasDescription) {
            refuse(std::string("the error lacks its \"") + (hasNumber ? "description" : "number") + "\"");
            return std::nullopt;
        }
        return failure;
    }

    bool namespaces(const Json& value) {
        if (!value.is_object()) return refuse("\"namespaces\" must be an object of namespaces");
        return members(value, [&](const std::string& name, const Json& classes) {
            std::string key = lowerAscii(name);
            for (char& c : key) {
                if (c == '/') c = '\\';
            }
            if (key.empty()) return refuse("a namespace needs a name", true);
            if (out.namespaces_.count(key)) return refuse("the namespace \"" + name + "\" appears twice", true);
            if (!classes.is_object()) return refuse("the namespace \"" + name + "\" must be an object of classes");
            auto& table = out.namespaces_[key];
            return members(classes, [&](const std::string& className, const Json& entry) {
                return classEntry(table, className, entry);
            });
        });
    }

    bool classEntry(std::map<std::string, SnapshotSource::ClassEntry>& table, const std::string& name,
                    const Json& entry) {
        std::string key = lowerAscii(name);
        if (table.count(key)) return refuse("the class \"" + name + "\" appears twice", true);
        SnapshotSource::ClassEntry result;
        result.name = name;
        if (entry.is_object()) {
            if (entry.size() != 1 || !entry.contains("error")) {
                return refuse("the class \"" + name + "\" must be an array of objects or {\"error\": {...}}");
            }
            path.push_back(0);
            auto failure = error(entry.front());
            path.pop_back();
            if (!failure) return false;
            result.error = *failure;
        } else if (entry.is_array()) {
            result.objects.reserve(entry.size());
            for (std::size_t i = 0; i < entry.size(); ++i) {
                path.push_back(i);
                bool ok = object(entry[i], result.objects);
                path.pop_back();
                if (!ok) return false;
            }
        } else {
            return refuse("the class \"" + name + "\" must be an array of objects or {\"error\": {...}}");
        }
        table.emplace(std::move(key), std::move(result));
        return true;
    }

    bool object(const Json& entry, std::vector<wmi::ObjectPtr>& objects) {
        if (!entry.is_object()) return refuse("an instance must be an object of properties");
        std::vector<std::pair<std::string, Value>> properties;
        properties.reserve(entry.size());
        auto instance = std::make_shared<wmi::PropertyObject>();
        bool ok = members(entry, [&](const std::string& name, const Json& json) {
            if (instance->find(name)) return refuse("the property \"" + name + "\" appears twice", true);
            auto value = toValue(json, false);
            if (!value) return false;
            instance->set(name, std::move(*value));
            return true;
        });
        if (ok) objects.push_back(std::move(instance));
        return ok;
    }

    std::optional<Value> toValue(const Json& json, bool inArray) {
        switch (json.type()) {
            case Json::value_t::null: return Value::null();
            case Json::value_t::boolean: return Value::boolean(json.get<bool>());
            case Json::value_t::string: return Value::text(json.get<std::string>());
            case Json::value_t::number_integer: {
                auto n = json.get<std::int64_t>();
                if (n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max()) {
                    return Value::int32(static_cast<std::int32_t>(n));
                }
                return Value::text(std::to_string(n));
            }
            case Json::value_t::number_unsigned: {
                auto n = json.get<std::uint64_t>();
                if (n <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
                    return Value::int32(static_cast<std::int32_t>(n));
                }
                return Value::text(std::to_string(n));
            }
            case Json::value_t::number_float: {
                double d = json.get<double>();
                if (std::fabs(d) > std::numeric_limits<float>::max()) {
                    refuse("the number " + json.dump() + " is too large for a single-precision value");
                    return std::nullopt;
                }
                return Value::real32(static_cast<float>(d));
            }
            case Json::value_t::array: {
                if (inArray) {
                    refuse("an array cannot hold arrays");
                    return std::nullopt;
                }
                std::vector<Value> items;
                items.reserve(json.size());
                for (std::size_t i = 0; i < json.size(); ++i) {
                    path.push_back(i);
                    auto item = toValue(json[i], true);
                    path.pop_back();
                    if (!item) return std::nullopt;
                    items.push_back(std::move(*item));
                }
                return Value::array(std::move(items));
            }
            default: break;
        }
        refuse("a property value must be text, a number, true, false, null or an array, not an object");
        return std::nullopt;
    }

    bool registry(const Json& value) {
        if (!value.is_object()) return refuse("\"registry\" must be an object of key paths");
        // Every key named, and a few parents: sized once rather than grown.
        out.registryChildren_.reserve(out.registryChildren_.size() + value.size() + 16);
        return members(value, [&](const std::string& fullPath, const Json& values) {
            std::optional<std::string_view> hiveless;
            for (std::string_view hive : {"HKEY_LOCAL_MACHINE", "HKLM"}) {
                const std::string_view start = std::string_view(fullPath).substr(0, hive.size());
                if (!equalsIgnoringCase(start, hive)) continue;
                if (fullPath.size() == hive.size()) hiveless = std::string_view();
                if (fullPath.size() > hive.size() && fullPath[hive.size()] == '\\') {
                    hiveless = std::string_view(fullPath).substr(hive.size() + 1);
                }
            }
            if (!hiveless) return refuse("a registry key must begin with HKEY_LOCAL_MACHINE\\ or HKLM\\", true);
            std::string_view rest = *hiveless;
            while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
            if (rest.find("\\\\") != std::string_view::npos || (!rest.empty() && rest.front() == '\\')) {
                return refuse("the registry key \"" + fullPath + "\" has an empty part", true);
            }
            SnapshotSource::RegistryKey& key = out.registryKeys_[ensureKey(rest, lowerAscii(rest))];
            if (key.listed) return refuse("the registry key \"" + fullPath + "\" appears twice", true);
            key.listed = true;
            if (!values.is_object()) return refuse("a registry key must map value names to text");
            key.values.reserve(key.values.size() + values.size());
            return members(values, [&](const std::string& name, const Json& text) {
                for (const auto& existing : key.values) {
                    if (equalsIgnoringCase(existing.first, name)) {
                        return refuse("the value \"" + name + "\" appears twice", true);
                    }
                }
                if (!text.is_string()) return refuse("a registry value must be text");
                // The document is this loader's own and read once: its text
                // moves into the key rather than being copied.
                key.values.emplace_back(name, std::move(const_cast<Json&>(text).get_ref<std::string&>()));
                return true;
            });
        });
    }

    // The previous key's lower-case path, and the number of each of its
    // parts' keys with where that part ends in the path.
    std::string previousPath;
    std::vector<std::pair<std::size_t, std::uint32_t>> previousParts;

    // The number of the key at `path` (no hive, no empty part), made with
    // every missing parent; a parent lists its children in the order they
    // first appear. Keys come grouped, so the parts a key shares with the one
    // before it are not looked up again: usually only its last part is.
    std::uint32_t ensureKey(std::string_view path, std::string lower) {
        const std::size_t common =
            std::mismatch(lower.begin(), lower.end(), previousPath.begin(), previousPath.end()).first - lower.begin();
        std::size_t shared = 0;
        while (shared < previousParts.size()) {
            const std::size_t end = previousParts[shared].first;
            if (end > common || (end < lower.size() && lower[end] != '\\')) break;
            ++shared;
        }
        previousParts.resize(shared);
        std::uint32_t key = shared == 0 ? 0 : previousParts.back().second;
        for (std::size_t start = shared == 0 ? 0 : previousParts.back().first + 1; start < lower.size();) {
            std::size_t end = lower.find('\\', start);
            if (end == std::string::npos) end = lower.size();
            const std::string_view name = std::string_view(lower).substr(start, end - start);
            auto child = out.registryChildren_.find(SnapshotSource::ChildName{key, name});
            if (child != out.registryChildren_.end()) {
                key = child->second;
            } else {
                const auto added = static_cast<std::uint32_t>(out.registryKeys_.size());
                out.registryKeys_.emplace_back();
                out.registryChildren_.emplace(SnapshotSource::Child{key, std::string(name)}, added);
                out.registryKeys_[key].subkeys.emplace_back(path.substr(start, end - start));
                key = added;
            }
            previousParts.emplace_back(end, key);
            start = end + 1;
        }
        previousPath = std::move(lower);
        return key;
    }
};

namespace {

// Far deeper than any snapshot needs (six levels), shallow enough that the
// recursive helpers that walk the text stay well inside the stack.
constexpr std::size_t kMaxDepth = 64;

// The offset of the first bracket that opens a level deeper than kMaxDepth,
// looking past strings. Runs before the parse, so that no later step ever
// meets a deeper document.
std::optional<std::size_t> tooDeep(std::string_view text) {
    std::size_t depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > kMaxDepth) return i;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return std::nullopt;
}

// Builds the document from the parser's events. The library's own builder
// inserts each member through the ordered map's linear search, which makes a
// large registry map quadratic. Here the members of an open object gather in
// a plain vector and move into the map once, at its exact size, when the
// object closes (the map's own growth would copy every member, keys being
// const); duplicate keys, which a plain insert would quietly collapse into
// one, are looked for as each key comes in a small object, and once, by
// sorting, when a large one closes.
struct DocumentBuilder final : nlohmann::json_sax<Json> {
    struct OpenObject {
        std::vector<std::pair<std::string, Json>> members;
        std::vector<std::size_t> keyNumbers;  // each member's key, counted through the document
    };
    static constexpr std::size_t kSmallObject = 16;

    Json root;
    std::vector<Json*> open;         // the containers being filled
    std::deque<OpenObject> objects;  // one per open object, innermost last; never moved
    std::size_t keysSeen = 0;
    std::optional<std::size_t> duplicateIndex;
    std::string duplicate;
    std::optional<std::size_t> errorOffset;
    std::string error;

    Json* place(Json value) {
        if (open.empty()) {
            root = std::move(value);
            return &root;
        }
        Json& parent = *open.back();
        if (parent.is_array()) {
            auto& items = parent.get_ref<Json::array_t&>();
            items.push_back(std::move(value));
            return &items.back();
        }
        Json& slot = objects.back().members.back().second;
        slot = std::move(value);
        return &slot;
    }

    bool start_object(std::size_t) override {
        open.push_back(place(Json(Json::value_t::object)));
        objects.emplace_back();
        return true;
    }
    // The first key in the document that repeats one before it in a large
    // object: keys come in file order, so the first one already seen is it.
    void findRepeatedKeys(const OpenObject& object) {
        std::unordered_set<std::string_view> seen;
        seen.reserve(object.members.size());
        for (std::size_t i = 0; i < object.members.size(); ++i) {
            if (seen.insert(object.members[i].first).second) continue;
            const std::size_t number = object.keyNumbers[i];
            if (!duplicateIndex || number < *duplicateIndex) {
                duplicateIndex = number;
                duplicate = object.members[i].first;
            }
            return;
        }
    }

    bool end_object() override {
        OpenObject& done = objects.back();
        if (done.members.size() > kSmallObject) findRepeatedKeys(done);
        auto& members = open.back()->get_ref<Json::object_t&>();
        members.reserve(done.members.size());
        for (auto& [key, value] : done.members) members.Container::emplace_back(std::move(key), std::move(value));
        objects.pop_back();
        open.pop_back();
        return true;
    }
    bool start_array(std::size_t) override {
        open.push_back(place(Json(Json::value_t::array)));
        return true;
    }
    bool end_array() override {
        open.pop_back();
        return true;
    }
    bool key(string_t& key) override {
        OpenObject& object = objects.back();
        bool seen = false;
        if (object.members.size() < kSmallObject) {
            for (const auto& member : object.members) seen = seen || member.first == key;
        }
        object.members.emplace_back(std::move(key), Json());
        object.keyNumbers.push_back(keysSeen);
        if (seen && (!duplicateIndex || keysSeen < *duplicateIndex)) {
            duplicateIndex = keysSeen;
            duplicate = object.members.back().first;
        }
        ++keysSeen;
        return true;
    }
    bool null() override { return place(Json()) != nullptr; }
    bool boolean(bool b) override { return place(Json(b)) != nullptr; }
    bool number_integer(number_integer_t n) override { return place(Json(n)) != nullptr; }
    bool number_unsigned(number_unsigned_t n) override { return place(Json(n)) != nullptr; }
    bool number_float(number_float_t d, const string_t&) override { return place(Json(d)) != nullptr; }
    bool string(string_t& s) override { return place(Json(std::move(s))) != nullptr; }
    bool binary(binary_t& b) override { return place(Json::binary(std::move(b))) != nullptr; }

    bool parse_error(std::size_t position, const std::string& lastToken,
                     const nlohmann::detail::exception& e) override {
        if (e.id == 406) {
            // A number beyond the range of a double (1e309): point at its start.
            errorOffset = position >= lastToken.size() ? position - lastToken.size() : 0;
            error = "the number " + lastToken + " is out of range";
            return false;
        }
        // The position counts from 1 and names the last byte read.
        errorOffset = position > 0 ? position - 1 : 0;
        error = e.what();
        std::size_t colon = error.find(": ");
        if (colon != std::string::npos) error = error.substr(colon + 2);
        error = "not valid JSON: " + error;
        return false;
    }
};

// Messages may echo bytes of the file: control characters and bytes that are
// not UTF-8 are shown as \xNN, so a binary file cannot garble the terminal.
std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    static constexpr char kHex[] = "0123456789ABCDEF";
    auto escape = [&](unsigned char b) {
        out += "\\x";
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7F) {
            escape(b);
            ++i;
            continue;
        }
        if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
            continue;
        }
        const std::size_t length = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        }
        if (valid) {
            out.append(text, i, length);
            i += length;
        } else {
            escape(b);
            ++i;
        }
    }
    return out;
}

Failure refusal(std::string_view name, std::string_view text, std::size_t offset, const std::string& what) {
    TextPosition p = positionOf(text, offset);
    return Failure{failure_code::kInvalidArgument, printable(name) + ":" + std::to_string(p.line) + ":" +
                                                       std::to_string(p.column) + ": " + printable(what)};
}

}  // namespace

Result<std::unique_ptr<SnapshotSource>> SnapshotSource::parse(std::string_view json, std::string_view name) {
    if (auto deep = tooDeep(json)) {
        return refusal(name, json, *deep,
                       "nested more than " + std::to_string(kMaxDepth) + " levels deep (a snapshot needs six)");
    }
    DocumentBuilder builder;
    Json::sax_parse(json.begin(), json.end(), &builder);
    if (builder.errorOffset) {
        return refusal(name, json, *builder.errorOffset, builder.error);
    }
    if (builder.duplicateIndex) {
        return refusal(name, json, offsetOfNthKey(json, *builder.duplicateIndex),
                       "the member \"" + builder.duplicate + "\" appears twice");
    }
    std::unique_ptr<SnapshotSource> source(new SnapshotSource());
    source->registryKeys_.emplace_back();  // the hive itself always exists
    SnapshotParser parser{*source, json, {}, std::nullopt, {}, {}};
    if (!parser.document(builder.root)) return refusal(name, json, parser.refusal->offset, parser.refusal->what);
    return source;
}

Result<std::unique_ptr<SnapshotSource>> SnapshotSource::load(const std::string& path) {
    // A device or a fifo (/dev/zero) could be read for ever; only a file with
    // an end is a snapshot. A folder would open and read as empty.
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (!ec && !std::filesystem::is_regular_file(status)) {
        return Failure{failure_code::kFileError,
                       "Cannot read the snapshot file " + printable(path) + ": not a regular file"};
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return Failure{failure_code::kFileError,
                       "Cannot read the snapshot file " + printable(path) + ": " + std::strerror(errno)};
    }
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad()) return Failure{failure_code::kFileError, "Cannot read the snapshot file " + printable(path)};
    return parse(content.str(), path);
}

bool SnapshotSource::hasNamespace(std::string_view nameSpace) const {
    return namespaces_.count(lowerAscii(nameSpace)) > 0;
}

Result<const std::vector<wmi::ObjectPtr>*> SnapshotSource::instances(std::string_view nameSpace,
                                                                     std::string_view className) {
    auto ns = namespaces_.find(lowerAscii(nameSpace));
    if (ns == namespaces_.end()) {
        return Failure{failure_code::kInvalidNamespace, "Invalid namespace " + std::string(nameSpace)};
    }
    auto entry = ns->second.find(lowerAscii(className));
    if (entry == ns->second.end()) {
        return Failure{failure_code::kInvalidClass, "Invalid class " + std::string(className)};
    }
    if (entry->second.error) return *entry->second.error;
    return &entry->second.objects;
}

const SnapshotSource::RegistryKey* SnapshotSource::registryKey(std::string_view path) const {
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    const std::string lower = lowerAscii(path);
    std::uint32_t key = 0;
    for (std::size_t start = 0; start < lower.size();) {
        std::size_t end = lower.find('\\', start);
        if (end == std::string::npos) end = lower.size();
        auto child = registryChildren_.find(ChildName{key, std::string_view(lower).substr(start, end - start)});
        if (child == registryChildren_.end()) return nullptr;
        key = child->second;
        start = end + 1;
    }
    return &registryKeys_[key];
}

Result<std::vector<std::string>> SnapshotSource::registrySubkeys(std::string_view path) {
    const RegistryKey* key = registryKey(path);
    if (!key) {
        return Failure{failure_code::kNotFound,
                       "The registry key HKEY_LOCAL_MACHINE\\" + std::string(path) + " does not exist"};
    }
    return key->subkeys;
}

std::optional<std::string> SnapshotSource::registryString(std::string_view path, std::string_view valueName) {
    const RegistryKey* key = registryKey(path);
    if (!key) return std::nullopt;
    for (const auto& [name, text] : key->values) {
        if (equalsIgnoringCase(name, valueName)) return text;
    }
    return std::nullopt;
}

}  // namespace veltrix::snapshot
