// The class cache answers every query of a class from one enumeration and
// must fail, filter and wait exactly as the source would on its own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "support/fakes.h"
#include "wmi/class_cache.h"

namespace veltrix {
namespace {

using namespace test;

constexpr std::string_view kDrivers = "SELECT * FROM Win32_PnPSignedDriver";

struct Walk {
    std::vector<std::string> names;  // "Description" of each object
    std::optional<Failure> failure;  // of the query or the walk
};

Walk walk(wmi::Service& service, std::string_view wql, std::string_view property = "Description") {
    Walk result;
    auto connection = service.connect(wmi::kWmiMoniker);
    if (!connection) {
        result.failure = connection.failure();
        return result;
    }
    auto results = (*connection)->execQuery(wql, "WQL", wmi::kQueryFlags);
    if (!results) {
        result.failure = results.failure();
        return result;
    }
    for (;;) {
        auto next = (*results)->next();
        if (!next) {
            result.failure = next.failure();
            return result;
        }
        if (!*next) return result;
        auto value = (*next)->get(property);
        result.names.push_back(!value ? "<" + value.failure().description + ">"
                                      : value->isNull() ? "<null>" : value->asText());
    }
}

std::vector<wmi::ObjectPtr> drivers() {
    return {object({{"Description", text("Audio")}, {"DeviceClass", text("MEDIA")}, {"DriverVersion", text("1")}}),
            object({{"Description", text("Webcam")}, {"DeviceClass", text("IMAGE")}, {"DriverVersion", null()}}),
            object({{"Description", text("Audio")}, {"DeviceClass", text("MEDIA")}, {"DriverVersion", text("2")}})};
}

TEST(ClassCache, AnswersFiltersLookupsAndPropertyListsFromOneEnumeration) {
    ScriptedService source;
    source.answers[std::string(kDrivers)].objects = drivers();
    wmi::ClassCacheService cache(source);

    EXPECT_EQ(walk(cache, "SELECT * FROM Win32_PnPSignedDriver WHERE DeviceClass='MEDIA'").names,
              (std::vector<std::string>{"Audio", "Audio"}));
    // Delivery order is kept, so "the first match" stays the same object.
    EXPECT_EQ(walk(cache, "select * from win32_pnpsigneddriver where Description = 'Audio'", "DriverVersion").names,
              (std::vector<std::string>{"1", "2"}));
    // A property list reads the others as Null, as a partial instance does.
    EXPECT_EQ(walk(cache, "SELECT DeviceClass FROM Win32_PnPSignedDriver WHERE DriverVersion IS NULL").names,
              (std::vector<std::string>{"<null>"}));
    EXPECT_EQ(source.queries, (std::vector<std::string>{std::string(kDrivers)}));
}

TEST(ClassCache, FailuresReachEveryQueryOfTheClassAsTheSourceGaveThem) {
    ScriptedService source;
    source.answers[std::string(kDrivers)].failure = Failure{4112, "ExecQuery: Invalid class (0x80041010)"};
    source.answers["SELECT * FROM Win32_PnPEntity"].objects = drivers();
    source.answers["SELECT * FROM Win32_PnPEntity"].failAfter = 2;
    wmi::ClassCacheService cache(source);

    for (std::string_view wql : {kDrivers, std::string_view("SELECT * FROM Win32_PnPSignedDriver WHERE x=1")}) {
        Walk result = walk(cache, wql);
        ASSERT_TRUE(result.failure) << wql;
        EXPECT_EQ(result.failure->number, 4112);
        EXPECT_EQ(result.failure->description, "ExecQuery: Invalid class (0x80041010)");
    }
    // A walk that broke off gives what came before the break, then the break.
    Walk broken = walk(cache, "SELECT * FROM Win32_PnPEntity WHERE DeviceClass <> 'IMAGE'");
    EXPECT_EQ(broken.names, (std::vector<std::string>{"Audio"}));
    Walk direct = walk(source, "SELECT * FROM Win32_PnPEntity");
    ASSERT_TRUE(broken.failure && direct.failure);
    EXPECT_EQ(broken.failure->number, direct.failure->number);
    EXPECT_EQ(broken.failure->description, direct.failure->description);
    EXPECT_EQ(source.queries.size(), 3u);  // two enumerations and the direct walk above
}

TEST(ClassCache, PropertiesTheClassLacksAreJudgedAsInASnapshotAndOtherLanguagesGoToTheSource) {
    ScriptedService source;
    source.answers[std::string(kDrivers)].objects = drivers();
    wmi::ClassCacheService cache(source);

    // Some providers refuse these although the class answers; the copy reads
    // the missing property as Null in a filter and fails reading it when selected.
    EXPECT_EQ(walk(cache, "SELECT * FROM Win32_PnPSignedDriver WHERE Signer IS NULL").names.size(), 3u);
    EXPECT_TRUE(walk(cache, "SELECT * FROM Win32_PnPSignedDriver WHERE Signer <> 'x'").names.empty());
    EXPECT_EQ(walk(cache, "SELECT Signer FROM Win32_PnPSignedDriver", "Signer").names.front(),
              "<Not found: the object has no property Signer>");
    // What the shared parser cannot read, the source judges itself.
    walk(cache, "SELECT FROM");
    EXPECT_EQ(source.queries, (std::vector<std::string>{std::string(kDrivers), "SELECT FROM"}));
}

// A source whose enumeration of the class blocks until released, counting
// the services made for workers.
struct GatedSource {
    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    std::atomic<int> workers{0};
    std::atomic<int> workersGone{0};  // worker services dropped
    std::vector<std::string> workerQueries;

    class Gate final : public wmi::Service {
    public:
        explicit Gate(GatedSource& owner) : owner_(owner) { inner_.answers[std::string(kDrivers)].objects = drivers(); }
        Result<std::unique_ptr<wmi::Connection>> connect(std::string_view moniker) override {
            std::unique_lock lock(owner_.mutex);
            owner_.released.wait(lock, [&] { return owner_.open; });
            return inner_.connect(moniker);
        }
        Result<std::unique_ptr<wmi::Registry>> connectRegistry(std::string_view moniker) override {
            return inner_.connectRegistry(moniker);
        }
        ~Gate() override {
            std::lock_guard lock(owner_.mutex);
            owner_.workerQueries.insert(owner_.workerQueries.end(), inner_.queries.begin(), inner_.queries.end());
            ++owner_.workersGone;
        }

    private:
        GatedSource& owner_;
        ScriptedService inner_;
    };

    void release() {
        std::lock_guard lock(mutex);
        open = true;
        released.notify_all();
    }
};

TEST(ClassCache, ExpectedSlowClassesAreFetchedAheadAndQueriesWaitForThem) {
    ScriptedService caller;  // answers nothing: every answer must come from the worker
    GatedSource gated;
    int waits = 0;
    wmi::ClassCacheOptions options;
    options.slowClasses = {"Win32_PnPSignedDriver"};
    options.workerService = [&]() -> Result<std::shared_ptr<wmi::Service>> {
        ++gated.workers;
        return std::shared_ptr<wmi::Service>(std::make_shared<GatedSource::Gate>(gated));
    };
    options.whileWaiting = [&] {
        if (++waits == 3) gated.release();
    };
    {
        wmi::ClassCacheService cache(caller, options);
        cache.expectClasses(wmi::kWmiMoniker, {"Win32_Bios", "Win32_PnPSignedDriver", "win32_pnpsigneddriver"});
        EXPECT_EQ(walk(cache, "SELECT * FROM Win32_PnPSignedDriver WHERE DeviceClass='IMAGE'").names,
                  (std::vector<std::string>{"Webcam"}));
        EXPECT_GE(waits, 3);  // the caller's thread kept its windows answering while it waited
        EXPECT_EQ(walk(cache, std::string(kDrivers)).names.size(), 3u);
    }
    EXPECT_EQ(gated.workers, 1);  // one worker for the class however often it is named; none for fast classes
    EXPECT_EQ(gated.workerQueries, (std::vector<std::string>{std::string(kDrivers)}));
    EXPECT_TRUE(caller.queries.empty());
}

TEST(ClassCache, AWorkerThatCannotConnectLeavesTheClassToTheCaller) {
    ScriptedService caller;
    caller.answers[std::string(kDrivers)].failure = Failure{4112, "ExecQuery: Invalid class (0x80041010)"};
    wmi::ClassCacheOptions options;
    options.slowClasses = {"Win32_PnPSignedDriver"};
    options.workerService = []() -> Result<std::shared_ptr<wmi::Service>> {
        return Failure{0x800401F0 & 0xFFFF, "CoInitializeEx: failed"};
    };
    wmi::ClassCacheService cache(caller, options);
    cache.expectClasses(wmi::kWmiMoniker, {"Win32_PnPSignedDriver"});
    Walk result = walk(cache, std::string(kDrivers));
    ASSERT_TRUE(result.failure);
    EXPECT_EQ(result.failure->description, "ExecQuery: Invalid class (0x80041010)");
    EXPECT_EQ(caller.queries, (std::vector<std::string>{std::string(kDrivers)}));
}

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

TEST(ClassCacheDeadline, AWorkerHungInItsSourceCostsTheDeadlineAndIsLeftBehind) {
    ScriptedService caller;
    GatedSource gated;  // never opened while the cache lives: the provider hangs
    wmi::ClassCacheOptions options;
    options.slowClasses = {"Win32_PnPSignedDriver"};
    options.classDeadline = milliseconds(300);
    options.workerService = [&]() -> Result<std::shared_ptr<wmi::Service>> {
        ++gated.workers;
        return std::shared_ptr<wmi::Service>(std::make_shared<GatedSource::Gate>(gated));
    };
    int waits = 0;
    options.whileWaiting = [&] { ++waits; };
    auto start = Clock::now();
    {
        wmi::ClassCacheService cache(caller, options);
        cache.expectClasses(wmi::kWmiMoniker, {"Win32_PnPSignedDriver"});
        Walk first = walk(cache, "SELECT * FROM Win32_PnPSignedDriver WHERE DeviceClass='IMAGE'");
        const long long waited = millisecondsSince(start);
        ASSERT_TRUE(first.failure);
        EXPECT_EQ(first.failure->number, failure_code::kTimedOut);
        EXPECT_EQ(first.failure->description, "Win32_PnPSignedDriver: timed out after 300 ms");
        EXPECT_GE(waited, 290);
        EXPECT_LT(waited, 5000);
        EXPECT_GT(waits, 3);  // the windows kept answering while it waited
        // Every later query of the class fails the same way at once, and
        // neither the caller nor a new worker asks the hung provider again.
        auto again = Clock::now();
        Walk second = walk(cache, std::string(kDrivers));
        ASSERT_TRUE(second.failure);
        EXPECT_EQ(second.failure->description, first.failure->description);
        EXPECT_LT(millisecondsSince(again), 200);
        EXPECT_TRUE(caller.queries.empty());
    }
    // The cache went without waiting for the stuck worker past its deadline.
    EXPECT_LT(millisecondsSince(start), 5000);
    EXPECT_EQ(gated.workers, 1);
    EXPECT_EQ(gated.workersGone, 0);
    // When the provider lets the worker go, it ends by itself and its late
    // answer goes nowhere.
    gated.release();
    for (int i = 0; i < 500 && gated.workersGone == 0; ++i) std::this_thread::sleep_for(milliseconds(10));
    EXPECT_EQ(gated.workersGone, 1);
    std::lock_guard lock(gated.mutex);  // the worker's last step, its unlock, is done
}

// A result set that waits for its objects as live WMI does: it honours the
// deadline it is given, or, when `ignoreDeadline`, trickles an object every
// `every` for ever.
class WaitingService final : public wmi::Service {
public:
    bool ignoreDeadline = false;
    milliseconds every{40};
    std::vector<std::string> queries;

    class Results final : public wmi::ResultSet {
    public:
        explicit Results(const WaitingService& owner) : owner_(owner) {}
        void setDeadline(Clock::time_point deadline) override { deadline_ = deadline; }
        Result<wmi::ObjectPtr> next() override {
            if (owner_.ignoreDeadline) {
                std::this_thread::sleep_for(owner_.every);
                return object({{"Description", text("Device")}});
            }
            std::this_thread::sleep_until(deadline_);
            return Failure{failure_code::kTimedOut, "IEnumWbemClassObject::Next: no answer"};
        }

    private:
        const WaitingService& owner_;
        Clock::time_point deadline_ = Clock::now() + std::chrono::hours(1);
    };
    class Link final : public wmi::Connection {
    public:
        explicit Link(WaitingService& owner) : owner_(owner) {}
        Result<std::unique_ptr<wmi::ResultSet>> execQuery(std::string_view wql, std::string_view,
                                                          std::int32_t) override {
            owner_.queries.emplace_back(wql);
            return std::unique_ptr<wmi::ResultSet>(std::make_unique<Results>(owner_));
        }

    private:
        WaitingService& owner_;
    };
    Result<std::unique_ptr<wmi::Connection>> connect(std::string_view) override {
        return std::unique_ptr<wmi::Connection>(std::make_unique<Link>(*this));
    }
    Result<std::unique_ptr<wmi::Registry>> connectRegistry(std::string_view) override {
        return Failure{failure_code::kInvalidClass, "no registry"};
    }
};

TEST(ClassCacheDeadline, AClassReadOnTheCallersThreadEndsAtItsDeadlineWhetherTheSourceWaitsOrTrickles) {
    for (bool trickles : {false, true}) {
        SCOPED_TRACE(trickles ? "trickles" : "waits");
        WaitingService source;
        source.ignoreDeadline = trickles;
        wmi::ClassCacheOptions options;
        options.classDeadline = milliseconds(250);
        wmi::ClassCacheService cache(source, options);
        auto start = Clock::now();
        Walk result = walk(cache, "SELECT * FROM Win32_PnPEntity");
        const long long took = millisecondsSince(start);
        ASSERT_TRUE(result.failure);
        EXPECT_EQ(result.failure->number, failure_code::kTimedOut);
        EXPECT_EQ(result.failure->description, "Win32_PnPEntity: timed out after 250 ms");
        EXPECT_GE(took, 240);
        EXPECT_LT(took, 3000);
        // What came before the deadline is kept, as after any broken walk.
        if (trickles) {
            EXPECT_GE(result.names.size(), 2u);
        } else {
            EXPECT_TRUE(result.names.empty());
        }
        // The deadline is the class's for this scan: not spent once more.
        start = Clock::now();
        EXPECT_TRUE(walk(cache, "SELECT Description FROM Win32_PnPEntity").failure);
        EXPECT_LT(millisecondsSince(start), 100);
        EXPECT_EQ(source.queries.size(), 1u);
    }
    EXPECT_EQ(wmi::timedOutText(std::chrono::seconds(120)), "timed out after 120 s");
}

TEST(ClassCacheRetry, AFailureThatMayPassIsReadOnceMoreOnTheNextQueryAndNoMore) {
    ScriptedService source;
    auto& answer = source.answers[std::string(kDrivers)];
    answer.failure = Failure{4097, "ExecQuery: Generic failure (0x80041001)"};
    wmi::ClassCacheService cache(source);

    Walk first = walk(cache, std::string(kDrivers));
    ASSERT_TRUE(first.failure);
    EXPECT_EQ(first.failure->description, "ExecQuery: Generic failure (0x80041001)");
    // The provider has recovered: the next query reads the class again and
    // every later one is answered from that second enumeration.
    answer.failure.reset();
    answer.objects = drivers();
    EXPECT_EQ(walk(cache, "SELECT * FROM Win32_PnPSignedDriver WHERE DeviceClass='IMAGE'").names,
              (std::vector<std::string>{"Webcam"}));
    EXPECT_EQ(walk(cache, std::string(kDrivers)).names.size(), 3u);
    EXPECT_EQ(source.queries.size(), 2u);

    // A walk that broke off is tried once more too; a second failure stays.
    const std::string entities = "SELECT * FROM Win32_PnPEntity";
    source.answers[entities].objects = drivers();
    source.answers[entities].failAfter = 1;
    for (int i = 0; i < 3; ++i) {
        Walk broken = walk(cache, entities);
        ASSERT_TRUE(broken.failure);
        EXPECT_EQ(broken.names, (std::vector<std::string>{"Audio"}));
    }
    EXPECT_EQ(source.queries.size(), 4u);

    // A class the provider does not have is not asked for again.
    source.answers["SELECT * FROM Win32_Tpm"].failure = Failure{4112, "ExecQuery: Invalid class (0x80041010)"};
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(walk(cache, "SELECT * FROM Win32_Tpm").failure);
    EXPECT_EQ(source.queries.size(), 5u);
}

TEST(ClassCacheRetry, AWorkersFailureThatMayPassIsReadAgainOverTheCallersConnection) {
    ScriptedService caller;
    caller.answers[std::string(kDrivers)].objects = drivers();
    wmi::ClassCacheOptions options;
    options.slowClasses = {"Win32_PnPSignedDriver"};
    auto failing = std::make_shared<ScriptedService>();
    failing->answers[std::string(kDrivers)].failure = Failure{1722, "ExecQuery: The RPC server is unavailable"};
    options.workerService = [failing]() -> Result<std::shared_ptr<wmi::Service>> {
        return std::shared_ptr<wmi::Service>(failing);
    };
    wmi::ClassCacheService cache(caller, options);
    cache.expectClasses(wmi::kWmiMoniker, {"Win32_PnPSignedDriver"});
    // However quickly the worker failed, the first section gets the class,
    // read once more over its own connection, and later ones the same.
    Walk first = walk(cache, std::string(kDrivers));
    EXPECT_FALSE(first.failure) << first.failure->description;
    EXPECT_EQ(first.names.size(), 3u);
    EXPECT_EQ(walk(cache, std::string(kDrivers)).names.size(), 3u);
    EXPECT_EQ(caller.queries, (std::vector<std::string>{std::string(kDrivers)}));
}

}  // namespace
}  // namespace veltrix
