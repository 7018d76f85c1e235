#include "wmi/table_service.h"

#include "core/ascii.h"

#include <cctype>
#include <unordered_map>

#include "wmi/moniker.h"
#include "wmi/property_object.h"
#include "wmi/wql/query.h"

namespace veltrix::wmi {

// Parsed queries by text. The driver-version lookup sends the same query once
// per multimedia device, so parsing once pays.
class QueryCache {
public:
    Result<std::shared_ptr<const wql::Query>> get(std::string_view text) {
        auto it = cache_.find(std::string(text));
        if (it != cache_.end()) return it->second;
        auto parsed = wql::parse(text);
        if (!parsed) return parsed.failure();
        auto query = std::make_shared<const wql::Query>(std::move(*parsed));
        cache_.emplace(std::string(text), query);
        return query;
    }

private:
    std::unordered_map<std::string, std::shared_ptr<const wql::Query>> cache_;
};

namespace {

constexpr std::string_view kRegistryNamespace = "root\\default";
constexpr std::int32_t kValueNotFound = 1;

// A partial instance: the selected properties read as the object holds them,
// every other property of the object reads as Null.
class ProjectedObject final : public Object {
public:
    ProjectedObject(ObjectPtr inner, std::shared_ptr<const wql::Query> query)
        : inner_(std::move(inner)), query_(std::move(query)) {}

    Result<Value> get(std::string_view name) const override {
        auto value = inner_->get(name);
        if (!value) return value;
        for (const std::string& selected : query_->properties) {
            if (equalsIgnoringCase(selected, name)) return value;
        }
        return Value::null();
    }
    std::vector<std::string> propertyNames() const override { return inner_->propertyNames(); }

private:
    ObjectPtr inner_;
    std::shared_ptr<const wql::Query> query_;
};

class FilteringResultSet final : public ResultSet {
public:
    FilteringResultSet(const std::vector<ObjectPtr>& objects, std::shared_ptr<const wql::Query> query)
        : objects_(objects), query_(std::move(query)) {}

    Result<ObjectPtr> next() override {
        while (index_ < objects_.size()) {
            const ObjectPtr& object = objects_[index_++];
            if (!wql::matches(*query_, *object)) continue;
            if (query_->properties.empty()) return object;
            return ObjectPtr(std::make_shared<ProjectedObject>(object, query_));
        }
        return ObjectPtr();
    }

private:
    const std::vector<ObjectPtr>& objects_;
    std::shared_ptr<const wql::Query> query_;
    std::size_t index_ = 0;
};

class TableConnection final : public Connection {
public:
    TableConnection(ClassSource& source, std::string nameSpace, std::shared_ptr<QueryCache> cache)
        : source_(source), nameSpace_(std::move(nameSpace)), cache_(std::move(cache)) {}

    Result<std::unique_ptr<ResultSet>> execQuery(std::string_view wqlText, std::string_view language,
                                                 std::int32_t /*flags*/) override {
        if (!equalsIgnoringCase(language, "WQL")) {
            return Failure{failure_code::kInvalidQuery,
                           "Invalid query language \"" + std::string(language) + "\": only WQL is understood"};
        }
        auto query = cache_->get(wqlText);
        if (!query) return query.failure();
        auto objects = source_.instances(nameSpace_, (*query)->className);
        if (!objects) return objects.failure();
        return std::unique_ptr<ResultSet>(std::make_unique<FilteringResultSet>(**objects, std::move(*query)));
    }

private:
    ClassSource& source_;
    std::string nameSpace_;
    std::shared_ptr<QueryCache> cache_;
};

class TableRegistry final : public Registry {
public:
    explicit TableRegistry(ClassSource& source) : source_(source) {}

    Result<std::vector<std::string>> enumKey(std::uint32_t hive, std::string_view path) override {
        if (hive != kHkeyLocalMachine) {
            return Failure{failure_code::kInvalidArgument, "Invalid parameter: only HKEY_LOCAL_MACHINE can be read"};
        }
        auto subkeys = source_.registrySubkeys(path);
        if (!subkeys && subkeys.failure().number == failure_code::kNotFound) return std::vector<std::string>();
        return subkeys;
    }

    std::int32_t getStringValue(std::uint32_t hive, std::string_view path, std::string_view valueName,
                                Value& out) override {
        out = Value::null();
        if (hive != kHkeyLocalMachine) return kValueNotFound;
        auto text = source_.registryString(path, valueName);
        if (!text) return kValueNotFound;
        out = Value::text(std::move(*text));
        return 0;
    }

private:
    ClassSource& source_;
};

}  // namespace

TableService::TableService(ClassSource& source, std::string localHostName)
    : source_(source), localHostName_(std::move(localHostName)), queries_(std::make_shared<QueryCache>()) {}

Result<std::unique_ptr<Connection>> TableService::connect(std::string_view monikerText) {
    if (auto error = source_.connectError()) return *error;
    auto moniker = parseMoniker(monikerText, localHostName_);
    if (!moniker) return moniker.failure();
    if (!moniker->className.empty()) {
        return Failure{failure_code::kInvalidMoniker, "Invalid moniker \"" + std::string(monikerText) +
                                                          "\": it names the object " + moniker->className +
                                                          ", not a namespace to query"};
    }
    if (!source_.hasNamespace(moniker->nameSpace)) {
        return Failure{failure_code::kInvalidNamespace, "Invalid namespace " + moniker->nameSpace};
    }
    return std::unique_ptr<Connection>(std::make_unique<TableConnection>(source_, moniker->nameSpace, queries_));
}

Result<std::unique_ptr<Registry>> TableService::connectRegistry(std::string_view monikerText) {
    if (auto error = source_.connectError()) return *error;
    auto moniker = parseMoniker(monikerText, localHostName_);
    if (!moniker) return moniker.failure();
    if (moniker->nameSpace != kRegistryNamespace || !equalsIgnoringCase(moniker->className, "StdRegProv")) {
        return Failure{failure_code::kInvalidMoniker, "Invalid moniker \"" + std::string(monikerText) +
                                                          "\": the registry is reached as root\\default:StdRegProv"};
    }
    return std::unique_ptr<Registry>(std::make_unique<TableRegistry>(source_));
}

}  // namespace veltrix::wmi
