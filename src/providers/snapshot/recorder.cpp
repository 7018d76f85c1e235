#include "providers/snapshot/recorder.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "core/ascii.h"
#include "providers/snapshot/machine_json.h"
#include "providers/snapshot/snapshot_source.h"
#include "report/encoding.h"
#include "wmi/moniker.h"
#include "wmi/wql/query.h"

namespace veltrix::snapshot {

using Json = nlohmann::ordered_json;
using wmi::Value;

namespace {

std::string trimBackslashes(std::string_view path) {
    while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
    while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    return std::string(path);
}

// The shortest decimal that reads back as the same single-precision number,
// so that 5.9 is written as 5.9 and not as 5.900000095367432.
double shortestFloat(float f) {
    char buffer[32];
    for (int digits = 6; digits <= 9; ++digits) {
        std::snprintf(buffer, sizeof buffer, "%.*g", digits, static_cast<double>(f));
        if (std::strtof(buffer, nullptr) == f) break;
    }
    return std::strtod(buffer, nullptr);
}

Json valueJson(const Value& v) {
    switch (v.kind()) {
        case wmi::Kind::Null: return nullptr;
        case wmi::Kind::Bool: return v.asBool();
        case wmi::Kind::Int32:
        case wmi::Kind::UInt8: return v.asInt32();
        case wmi::Kind::Real32: return shortestFloat(v.asReal32());
        case wmi::Kind::Real64: return v.asReal64();
        case wmi::Kind::Text: return replaceInvalidUtf8(v.asText());
        case wmi::Kind::Array: {
            Json items = Json::array();
            for (const Value& item : v.asArray()) items.push_back(valueJson(item));
            return items;
        }
    }
    return nullptr;
}

Json errorJson(const Failure& f) {
    return Json{{"number", f.number}, {"description", replaceInvalidUtf8(f.description)}};
}

}  // namespace

struct RecordingService::State {
    struct ClassRecord {
        std::string name;
        std::vector<Json> objects;
        std::optional<Failure> error;
    };
    struct Namespace {
        std::string name;
        std::vector<ClassRecord> classes;
        std::map<std::string, std::size_t> byName;  // lower case -> index
    };
    struct Key {
        std::string path;  // without hive
        std::vector<std::pair<std::string, std::string>> values;
    };

    std::string source;
    std::string takenAt;
    MachineIdentity machine;
    bool connected = false;
    std::optional<Failure> connectFailure;
    std::vector<Namespace> namespaces;
    std::vector<Key> keys;
    std::map<std::string, std::size_t> keyIndex;  // lower case path -> index

    Namespace& nameSpace(const std::string& name) {
        for (Namespace& ns : namespaces) {
            if (ns.name == name) return ns;
        }
        namespaces.push_back(Namespace{name, {}, {}});
        return namespaces.back();
    }

    Key& key(std::string_view rawPath) {
        std::string path = trimBackslashes(rawPath);
        auto [it, inserted] = keyIndex.try_emplace(lowerAscii(path), keys.size());
        if (inserted) keys.push_back(Key{path, {}});
        return keys[it->second];
    }

    // Takes the whole class once, whatever the caller's query selects, so the
    // replay can answer any query on it.
    void recordClass(wmi::Connection& inner, const std::string& nameSpaceName, const std::string& className) {
        Namespace& ns = nameSpace(nameSpaceName);
        if (ns.byName.count(lowerAscii(className))) return;
        ClassRecord record{className, {}, std::nullopt};
        auto results = inner.execQuery("SELECT * FROM " + className, "WQL", wmi::kQueryFlags);
        if (!results) {
            record.error = results.failure();
        } else {
            for (;;) {
                auto next = (*results)->next();
                if (!next) {
                    record.error = next.failure();
                    record.objects.clear();
                    break;
                }
                if (!*next) break;
                Json object = Json::object();
                for (const std::string& property : (*next)->propertyNames()) {
                    auto value = (*next)->get(property);
                    if (value) object[replaceInvalidUtf8(property)] = valueJson(*value);
                }
                record.objects.push_back(std::move(object));
            }
        }
        ns.byName.emplace(lowerAscii(className), ns.classes.size());
        ns.classes.push_back(std::move(record));
    }
};

namespace {

class RecordingConnection final : public wmi::Connection {
public:
    RecordingConnection(std::unique_ptr<wmi::Connection> inner, std::shared_ptr<RecordingService::State> state,
                        std::string nameSpace)
        : inner_(std::move(inner)), state_(std::move(state)), nameSpace_(std::move(nameSpace)) {}

    Result<std::unique_ptr<wmi::ResultSet>> execQuery(std::string_view wqlText, std::string_view language,
                                                      std::int32_t flags) override {
        // A query the shared parser cannot read names no class to keep; the
        // replay refuses it the same way.
        if (!nameSpace_.empty()) {
            if (auto query = wmi::wql::parse(wqlText)) state_->recordClass(*inner_, nameSpace_, query->className);
        }
        return inner_->execQuery(wqlText, language, flags);
    }

private:
    std::unique_ptr<wmi::Connection> inner_;
    std::shared_ptr<RecordingService::State> state_;
    std::string nameSpace_;
};

class RecordingRegistry final : public wmi::Registry {
public:
    RecordingRegistry(std::unique_ptr<wmi::Registry> inner, std::shared_ptr<RecordingService::State> state)
        : inner_(std::move(inner)), state_(std::move(state)) {}

    Result<std::vector<std::string>> enumKey(std::uint32_t hive, std::string_view path) override {
        auto subkeys = inner_->enumKey(hive, path);
        if (subkeys && hive == wmi::kHkeyLocalMachine) {
            std::string parent = trimBackslashes(path);
            state_->key(parent);
            // Each subkey is written as a key of its own, in the order given,
            // so that the replay lists them in the same order.
            for (const std::string& name : *subkeys) state_->key(parent.empty() ? name : parent + "\\" + name);
        }
        return subkeys;
    }

    std::int32_t getStringValue(std::uint32_t hive, std::string_view path, std::string_view valueName,
                                Value& out) override {
        std::int32_t code = inner_->getStringValue(hive, path, valueName, out);
        if (code == 0 && hive == wmi::kHkeyLocalMachine && !out.isNull()) {
            if (auto text = out.toText()) {
                auto& key = state_->key(path);
                bool known = false;
                for (auto& [name, value] : key.values) {
                    if (lowerAscii(name) == lowerAscii(valueName)) {
                        value = *text;
                        known = true;
                    }
                }
                if (!known) key.values.emplace_back(std::string(valueName), *text);
            }
        }
        return code;
    }

private:
    std::unique_ptr<wmi::Registry> inner_;
    std::shared_ptr<RecordingService::State> state_;
};

}  // namespace

RecordingService::RecordingService(wmi::Service& inner, std::string sourceText)
    : inner_(inner), state_(std::make_shared<State>()) {
    state_->source = std::move(sourceText);
}

Result<std::unique_ptr<wmi::Connection>> RecordingService::connect(std::string_view moniker) {
    auto connection = inner_.connect(moniker);
    auto parsed = wmi::parseMoniker(moniker);
    if (!connection) {
        // Only a failure that the replay would not reproduce by itself is
        // kept; a moniker it cannot read fails there anyway.
        if (parsed && !state_->connectFailure) state_->connectFailure = connection.failure();
        return connection;
    }
    state_->connected = true;
    std::string nameSpace;
    if (parsed) {
        nameSpace = parsed->nameSpace;
        state_->nameSpace(nameSpace);  // connecting works on replay even if nothing is queried
    }
    return std::unique_ptr<wmi::Connection>(
        std::make_unique<RecordingConnection>(std::move(*connection), state_, nameSpace));
}

Result<std::unique_ptr<wmi::Registry>> RecordingService::connectRegistry(std::string_view moniker) {
    auto registry = inner_.connectRegistry(moniker);
    if (!registry) {
        if (wmi::parseMoniker(moniker) && !state_->connectFailure) state_->connectFailure = registry.failure();
        return registry;
    }
    state_->connected = true;
    return std::unique_ptr<wmi::Registry>(std::make_unique<RecordingRegistry>(std::move(*registry), state_));
}

void RecordingService::setTakenAt(std::string iso8601) { state_->takenAt = std::move(iso8601); }

void RecordingService::setMachine(MachineIdentity identity) { state_->machine = std::move(identity); }

std::string RecordingService::toJson() const {
    Json root = Json::object();
    root["veltrix-snapshot"] = kSnapshotFormatVersion;
    root["source"] = replaceInvalidUtf8(state_->source);
    if (!state_->takenAt.empty()) root["taken-at"] = state_->takenAt;
    if (Json machine = MachineJson(state_->machine); !machine.empty()) root["machine"] = std::move(machine);
    // A connection failure becomes the snapshot's connect-error only when no
    // connection worked at all: otherwise the replay would refuse the
    // connections that did work during the scan.
    if (state_->connectFailure && !state_->connected) root["connect-error"] = errorJson(*state_->connectFailure);
    Json namespaces = Json::object();
    for (const auto& ns : state_->namespaces) {
        Json classes = Json::object();
        for (const auto& record : ns.classes) {
            if (record.error) {
                classes[replaceInvalidUtf8(record.name)] = Json{{"error", errorJson(*record.error)}};
            } else {
                classes[replaceInvalidUtf8(record.name)] = Json(record.objects);
            }
        }
        namespaces[ns.name] = std::move(classes);
    }
    root["namespaces"] = std::move(namespaces);
    Json registry = Json::object();
    for (const auto& key : state_->keys) {
        Json values = Json::object();
        for (const auto& [name, text] : key.values) values[replaceInvalidUtf8(name)] = replaceInvalidUtf8(text);
        registry[key.path.empty() ? "HKEY_LOCAL_MACHINE" : "HKEY_LOCAL_MACHINE\\" + replaceInvalidUtf8(key.path)] =
            std::move(values);
    }
    root["registry"] = std::move(registry);
    return root.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

Status RecordingService::save(Platform& platform, const std::string& path) const {
    auto file = platform.createReplacingFile(path);
    if (!file) return Failure{failure_code::kFileError, "Cannot write the snapshot file: " + file.failure().description};
    Status status = (*file)->write(toJson());
    if (status.ok()) status = (*file)->commit();
    if (!status.ok()) {
        return Failure{failure_code::kFileError, "Cannot write the snapshot file: " + status.failure.description};
    }
    return {};
}

}  // namespace veltrix::snapshot
