#include "wmi/table_service.h"

#include "core/ascii.h"
#include "core/trace.h"
#include "wmi/moniker.h"
#include "wmi/query_results.h"

namespace veltrix::wmi {

namespace {

constexpr std::string_view kRegistryNamespace = "root\\default";
constexpr std::int32_t kValueNotFound = 1;

void traceQuery(std::string_view wqlText, const std::string& outcome) {
    if (trace::enabled()) trace::line("wmi: query \"" + std::string(wqlText) + "\": " + outcome);
}

std::string countOf(std::size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

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
        if (!query) {
            traceQuery(wqlText, "refused: " + query.failure().description);
            return query.failure();
        }
        auto objects = source_.instances(nameSpace_, (*query)->className);
        if (!objects) {
            traceQuery(wqlText, "class " + (*query)->className + " failed: " + objects.failure().description);
            return objects.failure();
        }
        if (trace::enabled()) {
            traceQuery(wqlText, "answered by class " + (*query)->className + " in " + nameSpace_ + " (" +
                                    countOf((*objects)->size(), "instance") + ")");
        }
        // The source keeps its instances for its whole life: the result set
        // needs no share in them.
        std::shared_ptr<const std::vector<ObjectPtr>> held(std::shared_ptr<void>(), *objects);
        return filteredResults(std::move(held), std::move(*query), std::nullopt, cache_.get());
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
        if (trace::enabled()) {
            trace::line("wmi: registry EnumKey " + std::string(path) + ": " +
                        (subkeys ? countOf(subkeys->size(), "subkey") : "failed: " + subkeys.failure().description));
        }
        if (!subkeys && subkeys.failure().number == failure_code::kNotFound) return std::vector<std::string>();
        return subkeys;
    }

    std::int32_t getStringValue(std::uint32_t hive, std::string_view path, std::string_view valueName,
                                Value& out) override {
        // The text of the value read before lends its storage to this one.
        const bool found = hive == kHkeyLocalMachine && source_.readRegistryString(path, valueName, out.textToFill());
        if (trace::enabled() && hive == kHkeyLocalMachine) {
            trace::line("wmi: registry GetStringValue " + std::string(path) + " " + std::string(valueName) + ": " +
                        (found ? "found" : "not found"));
        }
        if (!found) {
            out = Value();
            return kValueNotFound;
        }
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

void TableService::expectClasses(std::string_view monikerText, const std::vector<std::string>& classNames) {
    // What could not be connected to will not be read.
    if (source_.connectError()) return;
    auto moniker = parseMoniker(monikerText, localHostName_);
    if (moniker) source_.expectClasses(moniker->nameSpace, classNames);
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
