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

#include "core/ascii.h"
#include "providers/snapshot/json_position.h"
#include "wmi/property_object.h"

namespace veltrix::snapshot {

using Json = nlohmann::ordered_json;
using wmi::Value;

namespace {

// Registry paths inside the source: no hive, single backslashes, no leading
// or trailing backslash, lower case.
std::string registryKeyOf(std::string_view path) {
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    return lowerAscii(path);
}

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
                if (!value.is_number_integer() || value.get<std::int64_t>() != 1) {
                    return refuse("unsupported snapshot format version " + shortForm(value) +
                                  " (this program reads version 1)");
                }
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
        out.registry_.reserve(out.registry_.size() + value.size() + 16);
        return members(value, [&](const std::string& fullPath, const Json& values) {
            std::optional<std::string_view> hiveless;
            const std::string lower = lowerAscii(fullPath);
            std::size_t hiveLength = 0;
            for (std::string_view hive : {"hkey_local_machine", "hklm"}) {
                if (lower == hive) hiveless = std::string_view(), hiveLength = lower.size();
                if (lower.size() > hive.size() && lower.compare(0, hive.size(), hive) == 0 && lower[hive.size()] == '\\') {
                    hiveless = std::string_view(fullPath).substr(hive.size() + 1);
                    hiveLength = hive.size() + 1;
                }
            }
            if (!hiveless) return refuse("a registry key must begin with HKEY_LOCAL_MACHINE\\ or HKLM\\", true);
            std::string_view rest = *hiveless;
            while (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
            if (rest.find("\\\\") != std::string_view::npos || (!rest.empty() && rest.front() == '\\')) {
                return refuse("the registry key \"" + fullPath + "\" has an empty part", true);
            }
            SnapshotSource::RegistryKey& key =
                ensureKey(rest, std::string_view(lower).substr(std::min(hiveLength, lower.size()), rest.size()));
            if (key.listed) return refuse("the registry key \"" + fullPath + "\" appears twice", true);
            key.listed = true;
            if (!values.is_object()) return refuse("a registry key must map value names to text");
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

    // The key and every parent, each parent listing its children in the order
    // they first appear.
    SnapshotSource::RegistryKey& ensureKey(std::string_view path, std::string_view lower) {
        // The deepest key of the path that exists already: usually the parent,
        // as keys come grouped, so a long path costs two lookups, not one per part.
        std::size_t known = lower.size();
        SnapshotSource::RegistryKey* parent = nullptr;
        for (;;) {
            auto it = out.registry_.find(std::string_view(lower).substr(0, known));
            if (it != out.registry_.end()) {
                parent = &it->second;
                break;
            }
            const std::size_t slash = known == 0 ? std::string::npos : lower.rfind('\\', known - 1);
            known = slash == std::string::npos ? 0 : slash;
        }
        std::size_t start = known == 0 ? 0 : known + 1;
        if (known == lower.size()) start = path.size();
        while (start < path.size()) {
            std::size_t end = path.find('\\', start);
            if (end == std::string_view::npos) end = path.size();
            auto [it, inserted] = out.registry_.try_emplace(std::string(lower.substr(0, end)));
            if (inserted) {
                it->second.path = std::string(path.substr(0, end));
                parent->subkeys.emplace_back(path.substr(start, end - start));
            }
            parent = &it->second;
            start = end + 1;
        }
        return *parent;
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
    // object: sorted by key, every member of a run of equal keys but the
    // earliest is a repeat.
    void findRepeatedKeys(const OpenObject& object) {
        std::vector<std::uint32_t> order(object.members.size());
        for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            const int c = object.members[a].first.compare(object.members[b].first);
            return c != 0 ? c < 0 : a < b;
        });
        for (std::size_t i = 1; i < order.size(); ++i) {
            if (object.members[order[i]].first != object.members[order[i - 1]].first) continue;
            const std::size_t number = object.keyNumbers[order[i]];
            if (!duplicateIndex || number < *duplicateIndex) {
                duplicateIndex = number;
                duplicate = object.members[order[i]].first;
            }
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
    source->registry_.emplace("", RegistryKey{});  // the hive itself always exists
    SnapshotParser parser{*source, json, {}, std::nullopt};
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

Result<std::vector<std::string>> SnapshotSource::registrySubkeys(std::string_view path) {
    auto key = registry_.find(registryKeyOf(path));
    if (key == registry_.end()) {
        return Failure{failure_code::kNotFound,
                       "The registry key HKEY_LOCAL_MACHINE\\" + std::string(path) + " does not exist"};
    }
    return key->second.subkeys;
}

std::optional<std::string> SnapshotSource::registryString(std::string_view path, std::string_view valueName) {
    auto key = registry_.find(registryKeyOf(path));
    if (key == registry_.end()) return std::nullopt;
    std::string wanted = lowerAscii(valueName);
    for (const auto& [name, text] : key->second.values) {
        if (lowerAscii(name) == wanted) return text;
    }
    return std::nullopt;
}

}  // namespace veltrix::snapshot
