#include "wmi/class_cache.h"

#include <algorithm>
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

using Clock = std::chrono::steady_clock;

Failure timedOut(const std::string& className, std::chrono::milliseconds deadline) {
    return Failure{failure_code::kTimedOut, className + ": " + timedOutText(deadline)};
}

Enumeration enumerate(Connection& connection, const std::string& className, const std::atomic<bool>& stop,
                      Clock::time_point deadline, std::chrono::milliseconds allowed, const char* how) {
    trace::Stopwatch watch;
    Enumeration result;
    auto objects = std::make_shared<std::vector<ObjectPtr>>();
    auto results = connection.execQuery("SELECT * FROM " + className, "WQL", kQueryFlags);
    if (!results) {
        result.queryFailure = results.failure();
    } else {
        (*results)->setDeadline(deadline);
        while (!stop) {
            // A source that keeps answering, only too slowly, ends here; one
            // that waits for an answer ends its wait at the deadline itself.
            if (Clock::now() > deadline) {
                result.walkFailure = timedOut(className, allowed);
                break;
            }
            auto next = (*results)->next();
            if (!next) {
                result.walkFailure = next.failure();
                if (result.walkFailure->number == failure_code::kTimedOut) {
                    result.walkFailure = timedOut(className, allowed);
                }
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

const Failure* failureOf(const Enumeration& enumeration) {
    if (enumeration.queryFailure) return &*enumeration.queryFailure;
    if (enumeration.walkFailure) return &*enumeration.walkFailure;
    return nullptr;
}

// Failures that asking again would only repeat: the class, namespace or
// query does not exist here, access is refused, or the class already took
// its whole deadline. Anything else (a provider that failed or restarted, a
// broken connection) may pass and is tried once more.
bool worthRetrying(const Failure& failure) {
    switch (failure.number) {
        case failure_code::kInvalidClass:
        case failure_code::kInvalidNamespace:
        case failure_code::kInvalidQuery:
        case 4120:  // invalid query type
        case 4108:  // not supported
        case 4099:  // access denied
        case failure_code::kInvalidMoniker:
        case failure_code::kTimedOut:
            return false;
        default:
            return true;
    }
}

std::string keyOf(std::string_view nameSpace, std::string_view className) {
    return lowerAscii(nameSpace) + ":" + lowerAscii(className);
}

}  // namespace

struct ClassCacheService::Shared {
    struct Entry {
        bool ready = false;
        bool ahead = false;      // a worker fetches it
        bool abandoned = false;  // its worker passed the deadline: whatever it brings is dropped
        bool retried = false;    // a failed enumeration was read once more
        Clock::time_point deadline;
        Enumeration enumeration;
    };
    struct Worker {
        std::thread thread;
        Clock::time_point deadline;
        std::shared_ptr<bool> done;  // guarded by `mutex`
    };

    explicit Shared(ClassCacheOptions o) : options(std::move(o)) {}

    ClassCacheOptions options;
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, Entry> entries;
    std::vector<Worker> workers;
    std::atomic<bool> stopping{false};
    QueryCache queries;  // used by the calling thread only

    Clock::time_point deadlineFromNow() const { return Clock::now() + options.classDeadline; }

    // The enumeration of the class: from a worker (waiting for it when it
    // is still running, up to the class's deadline) or read now over
    // `connection`. A failure that may pass is read once more on the next
    // query of the class.
    const Enumeration& obtain(Connection& connection, const std::string& nameSpace, const std::string& className) {
        const std::string key = keyOf(nameSpace, className);
        std::unique_lock lock(mutex);
        auto it = entries.find(key);
        if (it != entries.end() && it->second.ahead && !it->second.ready) {
            trace::Stopwatch watch;
            while (it != entries.end() && !it->second.ready) {
                const Clock::time_point deadline = it->second.deadline;
                if (Clock::now() >= deadline) {
                    // The worker is stuck in the source: the class fails for
                    // this scan, and the worker is not waited for again.
                    Entry& late = it->second;
                    late.abandoned = true;
                    late.ready = true;
                    late.retried = true;
                    late.enumeration = Enumeration{};
                    late.enumeration.queryFailure = timedOut(className, options.classDeadline);
                    trace::line("wmi: gave up waiting for " + className + ": " +
                                timedOutText(options.classDeadline));
                    break;
                }
                if (options.whileWaiting) {
                    changed.wait_until(lock, std::min(deadline, Clock::now() + std::chrono::milliseconds(20)));
                    lock.unlock();
                    options.whileWaiting();
                    lock.lock();
                } else {
                    changed.wait_until(lock, deadline);
                }
                it = entries.find(key);
            }
            if (trace::enabled() && it != entries.end()) {
                trace::line("wmi: waited " + std::to_string(watch.milliseconds()) + " ms for " + className);
            }
        }
        // A worker's failure that may pass was met on the worker's own
        // connection, by no section yet: it is read once more over the
        // caller's, whether the worker ended before this query or while it
        // waited (a class given up on is marked retried and stays failed).
        if (it != entries.end() && it->second.ready) {
            Entry& entry = it->second;
            const Failure* failed = failureOf(entry.enumeration);
            if (!failed || entry.retried || !worthRetrying(*failed)) return entry.enumeration;
            entry.retried = true;
            lock.unlock();
            Enumeration again = enumerate(connection, className, stopping, deadlineFromNow(),
                                          options.classDeadline, " (again)");
            lock.lock();
            entry.enumeration = std::move(again);
            return entry.enumeration;
        }
        // Entries are never removed once ready, and workers remove only the
        // entries they were given, so the reference stays valid.
        Entry& entry = entries[key];
        lock.unlock();
        Enumeration fetched =
            enumerate(connection, className, stopping, deadlineFromNow(), options.classDeadline, "");
        lock.lock();
        entry.enumeration = std::move(fetched);
        entry.ready = true;
        return entry.enumeration;
    }

    // The worker holds `self` (this), so that a worker left behind in a hung
    // source still finds its state when the source lets it go.
    void fetchAhead(const std::shared_ptr<Shared>& self, const std::string& moniker, const std::string& nameSpace,
                    const std::string& className) {
        const std::string key = keyOf(nameSpace, className);
        const Clock::time_point deadline = deadlineFromNow();
        auto done = std::make_shared<bool>(false);
        {
            std::lock_guard lock(mutex);
            if (entries.count(key)) return;
            Entry& entry = entries[key];
            entry.ahead = true;
            entry.deadline = deadline;
        }
        std::thread thread([self, moniker, key, className, deadline, done] {
            std::optional<Enumeration> fetched;
            if (auto service = self->options.workerService()) {
                if (auto connection = (*service)->connect(moniker)) {
                    fetched = enumerate(**connection, className, self->stopping, deadline,
                                        self->options.classDeadline, " (ahead)");
                } else {
                    trace::line("wmi: fetching " + className + " ahead: " + connection.failure().description);
                }
            } else {
                trace::line("wmi: fetching " + className + " ahead: " + service.failure().description);
            }
            std::lock_guard lock(self->mutex);
            auto it = self->entries.find(key);
            if (it != self->entries.end() && !it->second.abandoned && !it->second.ready) {
                if (fetched && !self->stopping) {
                    it->second.enumeration = std::move(*fetched);
                    it->second.ready = true;
                } else {
                    // The worker could not reach the source: the class is read
                    // when it is first queried, over the caller's own connection,
                    // so its failure is the one the caller would have seen.
                    self->entries.erase(it);
                }
            }
            *done = true;
            self->changed.notify_all();
        });
        std::lock_guard lock(mutex);
        workers.push_back(Worker{std::move(thread), deadline, std::move(done)});
    }

    // Joins each worker that ends by its deadline and leaves the others.
    void finish() {
        stopping = true;
        std::unique_lock lock(mutex);
        std::vector<Worker> all = std::move(workers);
        workers.clear();
        for (Worker& worker : all) {
            changed.wait_until(lock, worker.deadline, [&] { return *worker.done; });
            if (*worker.done) {
                lock.unlock();
                worker.thread.join();
                lock.lock();
            } else {
                trace::line("wmi: a worker is still waiting for its source; it is left behind");
                worker.thread.detach();
            }
        }
    }
};

std::string timedOutText(std::chrono::milliseconds deadline) {
    const long long ms = deadline.count();
    if (ms % 1000 == 0) return "timed out after " + std::to_string(ms / 1000) + " s";
    return "timed out after " + std::to_string(ms) + " ms";
}

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

ClassCacheService::~ClassCacheService() { shared_->finish(); }

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
                shared_->fetchAhead(shared_, std::string(moniker), parsed->nameSpace, className);
                break;
            }
        }
    }
}

}  // namespace veltrix::wmi
