// The class cache answers every query of a class from one enumeration and
// must fail, filter and wait exactly as the source would on its own.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

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

}  // namespace
}  // namespace veltrix
