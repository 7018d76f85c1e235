// A lookup per device (one equality filter per query) is answered from an
// index of the property: only the objects that can match are looked at, and
// the answer is the one a look at every object would give, in the same order.
#include <gtest/gtest.h>

#include <map>

#include "core/ascii.h"
#include "support/cost_ratio.h"
#include "support/fakes.h"
#include "wmi/class_cache.h"
#include "wmi/class_source.h"
#include "wmi/property_object.h"
#include "wmi/table_service.h"
#include "wmi/wql/query.h"

namespace veltrix {
namespace {

using namespace test;

// Counts every property read of its objects.
class CountingObject final : public wmi::Object {
public:
    CountingObject(wmi::ObjectPtr inner, std::size_t& reads) : inner_(std::move(inner)), reads_(reads) {}
    Result<wmi::Value> get(std::string_view name) const override {
        ++reads_;
        return inner_->get(name);
    }
    std::vector<std::string> propertyNames() const override { return inner_->propertyNames(); }

private:
    wmi::ObjectPtr inner_;
    std::size_t& reads_;
};

// One class, Win32_NetworkAdapter, in root\cimv2.
class OneClassSource final : public wmi::ClassSource {
public:
    explicit OneClassSource(std::vector<wmi::ObjectPtr> objects) {
        for (auto& o : objects) objects_.push_back(std::make_shared<CountingObject>(std::move(o), reads));
    }
    bool hasNamespace(std::string_view ns) const override { return equalsIgnoringCase(ns, "root\\cimv2"); }
    Result<const std::vector<wmi::ObjectPtr>*> instances(std::string_view, std::string_view className) override {
        if (!equalsIgnoringCase(className, "Win32_NetworkAdapter")) return Failure{4112, "Invalid class"};
        return &objects_;
    }
    Result<std::vector<std::string>> registrySubkeys(std::string_view) override { return Failure{2, "none"}; }
    std::optional<std::string> registryString(std::string_view, std::string_view) override { return std::nullopt; }

    std::size_t reads = 0;

private:
    std::vector<wmi::ObjectPtr> objects_;
};

std::vector<wmi::ObjectPtr> adapters(std::size_t n) {
    std::vector<wmi::ObjectPtr> out;
    for (std::size_t k = 0; k < n; ++k) {
        out.push_back(object({{"Name", text("Adapter " + std::to_string(k))},
                              {"MACAddress", text("00:00:" + std::to_string(k))}}));
    }
    return out;
}

// The MAC address of the first adapter of each name, one query per name.
std::vector<std::string> lookUpEach(wmi::Service& service, std::size_t n) {
    std::vector<std::string> macs;
    auto connection = service.connect(wmi::kShortMoniker);
    EXPECT_TRUE(connection.ok());
    if (!connection) return macs;
    for (std::size_t k = 0; k < n; ++k) {
        auto results = (*connection)
                           ->execQuery("SELECT MACAddress FROM Win32_NetworkAdapter WHERE Name = 'Adapter " +
                                           std::to_string(k) + "' ",
                                       "WQL", wmi::kQueryFlags);
        EXPECT_TRUE(results.ok());
        if (!results) return macs;
        auto first = (*results)->next();
        macs.push_back(first.ok() && *first ? *(*first)->get("MACAddress")->toText() : "<none>");
    }
    return macs;
}

std::size_t readsForLookups(std::size_t n) {
    OneClassSource source(adapters(n));
    wmi::TableService service(source);
    const auto macs = lookUpEach(service, n);
    EXPECT_EQ(macs.size(), n);
    for (std::size_t k = 0; k < macs.size(); ++k) EXPECT_EQ(macs[k], "00:00:" + std::to_string(k));
    return source.reads;
}

TEST(EqualityIndex, ALookupPerObjectReadsEachObjectAFewTimesNotOncePerLookup) {
    const std::size_t small = readsForLookups(500);
    const std::size_t large = readsForLookups(2000);
    EXPECT_LT(static_cast<double>(large) / static_cast<double>(small), 6.0)
        << small << " reads for 500 lookups, " << large << " for 2000: a look at every object per lookup gives 16";
}

TEST(EqualityIndex, TheClassCacheAnswersLookupsInLinearTime) {
    constexpr std::size_t kSmall = 1000, kFactor = 4;
    std::map<std::size_t, ScriptedService> sources;
    for (std::size_t n : {kSmall, kSmall * kFactor}) {
        sources[n].answers["SELECT * FROM Win32_NetworkAdapter"].objects = adapters(n);
    }
    auto run = [&](std::size_t n) {
        wmi::ClassCacheService cache(sources.at(n));
        const auto macs = lookUpEach(cache, n);
        ASSERT_EQ(macs.size(), n);
        ASSERT_EQ(macs.back(), "00:00:" + std::to_string(n - 1));
    };
    EXPECT_LT(test::wholeToPiecesCost(run, kSmall, kFactor), 2.2) << "a look at every object per lookup gives about 4";
}

// Values of every kind against literals of every kind: the index must find
// exactly the objects, in the order, that the filter finds by looking at each.
TEST(EqualityIndex, FindsWhatALookAtEveryObjectFinds) {
    std::vector<wmi::Value> values = {
        text("1"),        text("01"),      text(" 1 "),    text("1.0"),    text("+1"),   text("true"),
        text("TRUE"),     text("abc"),     text("ABC"),    text("0"),      text("-0"),   text("0.0"),
        text("false"),    int32(1),        int32(0),       int32(-1),      text("-1"),   wmi::Value::boolean(true),
        wmi::Value::boolean(false), wmi::Value::real32(1.0f), wmi::Value::real32(0.5f), text("0.5"), null(),
        text("9007199254740993"), text("9007199254740992"), text(""), text("Adapter"),
        wmi::Value::array({text("1")}),
    };
    std::vector<wmi::ObjectPtr> objects;
    for (std::size_t k = 0; k < values.size(); ++k) {
        objects.push_back(object({{"Name", values[k]}, {"MACAddress", text(std::to_string(k))}}));
    }
    objects.push_back(object({{"MACAddress", text("no name")}}));  // reads as Null
    const std::vector<std::string> literals = {
        "'1'", "'01'", "1", "'true'", "TRUE", "FALSE", "'abc'", "'Abc'", "0", "'-0'", "'0'", "-1", "'1.0'",
        "'0.5'", "'9007199254740993'", "9007199254740992", "''", "'adapter'", "'+1'", "' 1 '", "NULL", "'x'",
    };
    OneClassSource source(objects);
    wmi::TableService service(source);
    auto connection = service.connect(wmi::kShortMoniker);
    ASSERT_TRUE(connection.ok());
    for (int pass = 0; pass < 2; ++pass) {  // the index is made for the second filter on the property
        for (const std::string& literal : literals) {
            for (bool propertyFirst : {true, false}) {
                const std::string where = propertyFirst ? "Name = " + literal : literal + " = Name";
                const std::string wql = "SELECT * FROM Win32_NetworkAdapter WHERE " + where;
                auto parsed = wmi::wql::parse(wql);
                ASSERT_TRUE(parsed.ok()) << wql;
                std::vector<std::string> expected, found;
                for (const auto& o : objects) {
                    if (wmi::wql::matches(*parsed, *o)) expected.push_back(*o->get("MACAddress")->toText());
                }
                auto results = (*connection)->execQuery(wql, "WQL", wmi::kQueryFlags);
                ASSERT_TRUE(results.ok()) << wql;
                for (;;) {
                    auto next = (*results)->next();
                    ASSERT_TRUE(next.ok());
                    if (!*next) break;
                    found.push_back(*(*next)->get("MACAddress")->toText());
                }
                EXPECT_EQ(found, expected) << wql << " (pass " << pass << ")";
            }
        }
    }
}

}  // namespace
}  // namespace veltrix
