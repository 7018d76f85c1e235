#include "wmi/class_cache.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "core/ascii.h"
#include "core/trace.h"
#include "wmi/moniker.h"
#include "wmi/property_object.h"
#include "wmi/query_results.h"

namespace veltrix::wmi {

namespace {

// An object copied out of the source: every property as the source answered
// it, failures included, so that the copy can cross threads and outlive the
// source's own object.
class CopiedObject final : public Object {
public:
    explicit CopiedObject(const Object& source) {
        for (std::string& name : source.propertyNames()) {
            auto value = source.get(name);
            properties_.emplace_back(std::move(name), std::move(value));
        }
    }

    Result<Value> get(std::string_view name) const override {
        for (const auto& [key, value] : properties_) {
            if (equalsIgnoringCase(key, name)) return value;
        }
        return missingProperty(name);
    }
    std::vector<std::string> propertyNames() const override {
        std::vector<std::string> names;
        names.reserve(properties_.size());
        for (const auto& property : properties_) names.push_back(property.first);
        return names;
    }

private:
    std::vector<std::pair<std::string, Result<Value>>> properties_;
};

// What one "SELECT *" over a class gave.
struct Enumeration {
    std::shared_ptr<const std::vector<ObjectPtr>> objects = std::make_shared<std::vector<ObjectPtr>>();
    std::optional<Failure> queryFailure;  // the query itself failed: every query of the class fails so
    std::optional<Failure> walkFailure;   // the walk broke off after `objects`
};

std::string plural(std::size_t n, const char* what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); }

Enumeration enumerate(Connection& connection, const std::string& className, const std::atomic<bool>& stop,
                      const char* how) {
    trace::Stopwatch watch;
    Enumeration result;
    auto objects = std::make_shared<std::vector<ObjectPtr>>();
    auto results = connection.execQuery("SELECT * FROM " + className, "WQL", kQueryFlags);
    if (!results) {
        result.queryFailure = results.failure();
    } else {
        while (!stop) {
            auto next = (*results)->next();
            if (!next) {
                result.walkFailure = next.failure();
                break;
            }
            if (!*next) break;
            objects->push_back(std::make_shared<CopiedObject>(**next));
        }
    }
    result.objects = objects;
    if (trace::enabled()) {
        std::string text = "wmi: enumerate " + className + how + ": ";
        if (result.queryFailure) {
            text += "failed: " + result.queryFailure->description;
        } else {
            text += plural(objects->size(), "object");
            if (result.walkFailure) text += ", then failed: " + result.walkFailure->description;
        }
        trace::line(text + ", " + std::to_string(watch.milliseconds()) + " ms");
    }
    return result;
}

std::string keyOf(std::string_view nameSpace, std::string_view className) {
    return lowerAscii(nameSpace) + ":" + lowerAscii(className);
}

}  // namespace

struct ClassCacheService::Shared {
    struct Entry {
        bool ready = false;
        bool ahead = false;  // a worker fetches it
        Enumeration enumeration;
    };

    explicit Shared(ClassCacheOptions o) : options(std::move(o)) {}

    ClassCacheOptions options;
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, Entry> entries;
    std::vector<std::thread> workers;
    std::atomic<bool> stopping{false};
    QueryCache queries;  // used by the calling thread only

    // The enumeration of the class: from a worker (waiting for it when it
    // is still running) or read now over `connection`.
    const Enumeration& obtain(Connection& connection, const std::string& nameSpace, const std::string& className) {
        const std::string key = keyOf(nameSpace, className);
        std::unique_lock lock(mutex);
        auto it = entries.find(key);
        if (it != entries.end() && it->second.ahead && !it->second.ready) {
            trace::Stopwatch watch;
            while (it != entries.end() && !it->second.ready) {
                if (options.whileWaiting) {
                    changed.wait_for(lock, std::chrono::milliseconds(20));
                    lock.unlock();
                    options.whileWaiting();
                    lock.lock();
                } else {
                    changed.wait(lock);
                }
                it = entries.find(key);
            }
            if (trace::enabled() && it != entries.end()) {
                trace::line("wmi: waited " + std::to_string(watch.milliseconds()) + " ms for " + className);
            }
        }
        if (it != entries.end() && it->second.ready) return it->second.enumeration;
        // Entries are never removed once ready, and workers remove only the
        // entries they were given, so the reference stays valid.
        Entry& entry = entries[key];
        lock.unlock();
        Enumeration fetched = enumerate(connection, className, stopping, "");
        lock.lock();
        entry.enumeration = std::move(fetched);
        entry.ready = true;
        return entry.enumeration;
    }

    void fetchAhead(const std::string& moniker, const std::string& nameSpace, const std::string& className) {
        const std::string key = keyOf(nameSpace, className);
        {
            std::lock_guard lock(mutex);
            if (entries.count(key)) return;
            entries[key].ahead = true;
        }
        workers.emplace_back([this, moniker, key, className] {
            std::optional<Enumeration> fetched;
            if (auto service = options.workerService()) {
                if (auto connection = (*service)->connect(moniker)) {
                    fetched = enumerate(**connection, className, stopping, " (ahead)");
                } else {
                    trace::line("wmi: fetching " + className + " ahead: " + connection.failure().description);
                }
            } else {
                trace::line("wmi: fetching " + className + " ahead: " + service.failure().description);
            }
            std::lock_guard lock(mutex);
            if (fetched && !stopping) {
                entries[key].enumeration = std::move(*fetched);
                entries[key].ready = true;
            } else {
                // The worker could not reach the source: the class is read
                // when it is first queried, over the caller's own connection,
                // so its failure is the one the caller would have seen.
                entries.erase(key);
            }
            changed.notify_all();
        });
    }
};

namespace {

class CachedConnection final : public Connection {
public:
    CachedConnection(std::unique_ptr<Connection> inner, std::shared_ptr<ClassCacheService::Shared> shared,
                     std::string nameSpace)
        : inner_(std::move(inner)), shared_(std::move(shared)), nameSpace_(std::move(nameSpace)) {}

    Result<std::unique_ptr<ResultSet>> execQuery(std::string_view wqlText, std::string_view language,
                                                 std::int32_t flags) override {
        if (!equalsIgnoringCase(language, "WQL")) return sendOn(wqlText, language, flags, "not WQL");
        auto query = shared_->queries.get(wqlText);
        if (!query) return sendOn(wqlText, language, flags, "not understood here");
        const Enumeration& enumeration = shared_->obtain(*inner_, nameSpace_, (*query)->className);
        if (enumeration.queryFailure) return *enumeration.queryFailure;
        // A property the class lacks is judged as a snapshot of this scan
        // judges it: Null in the WHERE clause, a failed read when selected.
        // Some providers (Wine's) refuse such a filter although the class
        // answers, so live scan and replay would otherwise differ.
        return filteredResults(enumeration.objects, std::move(*query), enumeration.walkFailure, &shared_->queries);
    }

private:
    Result<std::unique_ptr<ResultSet>> sendOn(std::string_view wqlText, std::string_view language,
                                              std::int32_t flags, const char* reason) {
        if (trace::enabled()) trace::line("wmi: query \"" + std::string(wqlText) + "\" sent as it is: " + reason);
        return inner_->execQuery(wqlText, language, flags);
    }

    std::unique_ptr<Connection> inner_;
    std::shared_ptr<ClassCacheService::Shared> shared_;
    std::string nameSpace_;
};

}  // namespace

ClassCacheService::ClassCacheService(Service& inner, ClassCacheOptions options)
    : inner_(inner), shared_(std::make_shared<Shared>(std::move(options))) {}

ClassCacheService::~ClassCacheService() {
    shared_->stopping = true;
    for (std::thread& worker : shared_->workers) worker.join();
}

Result<std::unique_ptr<Connection>> ClassCacheService::connect(std::string_view moniker) {
    auto connection = inner_.connect(moniker);
    if (!connection) return connection.failure();
    // The source accepted the moniker, so it parses; the namespace keys the classes.
    auto parsed = parseMoniker(moniker, shared_->options.localHostName);
    if (!parsed) return connection;
    return std::unique_ptr<Connection>(
        std::make_unique<CachedConnection>(std::move(*connection), shared_, parsed->nameSpace));
}

Result<std::unique_ptr<Registry>> ClassCacheService::connectRegistry(std::string_view moniker) {
    return inner_.connectRegistry(moniker);
}

void ClassCacheService::expectClasses(std::string_view moniker, const std::vector<std::string>& classNames) {
    if (!shared_->options.workerService) return;
    auto parsed = parseMoniker(moniker, shared_->options.localHostName);
    if (!parsed) return;
    for (const std::string& className : classNames) {
        for (const std::string& slow : shared_->options.slowClasses) {
            if (equalsIgnoringCase(slow, className)) {
                shared_->fetchAhead(std::string(moniker), parsed->nameSpace, className);
                break;
            }
        }
    }
}

}  // namespace veltrix::wmi
