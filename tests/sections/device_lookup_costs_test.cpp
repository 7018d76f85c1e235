// The lookups a device section makes per device must not each look at every
// driver or adapter: a snapshot may list as many as it likes.
#include <gtest/gtest.h>

#include "core/ascii.h"
#include "providers/snapshot/snapshot_source.h"
#include "sections/collectors.h"
#include "sections/device_lookups.h"
#include "support/fakes.h"
#include "wmi/table_service.h"

namespace veltrix {
namespace {

using namespace test;

const std::string kMediaQuery = "SELECT * FROM Win32_PnPSignedDriver WHERE (DeviceClass='MEDIA') OR DeviceClass='IMAGE'";
const std::string kAllDrivers = "SELECT * FROM Win32_PnPSignedDriver";

TEST(DeviceLookupCosts, DriverVersionsAreReadOncePerScan) {
    ScriptedService service;
    std::vector<wmi::ObjectPtr> media, all;
    for (int k = 0; k < 50; ++k) {
        media.push_back(object({{"Description", text("Audio " + std::to_string(k))}}));
        all.push_back(object({{"Description", text("Audio " + std::to_string(k))},
                              {"DriverVersion", text(k % 2 ? "" : "1." + std::to_string(k))}}));
    }
    all.push_back(object({{"Description", text("Audio 1")}, {"DriverVersion", text("later")}}));
    all.push_back(object({{"Description", text("Audio 2")}, {"DriverVersion", text("not the first")}}));
    service.answers[kMediaQuery].objects = media;
    service.answers[kAllDrivers].objects = all;
    ScanFixture fx(service);
    WriteMultiMediaSection(fx.scan);
    EXPECT_EQ(service.queries, (std::vector<std::string>{kMediaQuery, kAllDrivers}))
        << "one walk over the drivers for fifty devices";
    const std::string lines = fx.lines();
    EXPECT_NE(lines.find(rowLine("Driver Version", "1.0&nbsp;")), std::string::npos);
    EXPECT_NE(lines.find(rowLine("Driver Version", "later&nbsp;")), std::string::npos)
        << "a driver without a version leaves the description to the next one that has one";
    EXPECT_EQ(lines.find("not the first"), std::string::npos);
    EXPECT_EQ(GetDriverVersionByDescription(fx.scan, "Audio 48"), "1.48");
    EXPECT_EQ(GetDriverVersionByDescription(fx.scan, "audio 48"), "") << "letter case counts";
    EXPECT_EQ(service.queries.size(), 2u);
}

TEST(DeviceLookupCosts, AFailedDriverWalkKeepsWhatCameBeforeItAndTheCallersError) {
    ScriptedService service;
    service.answers[kAllDrivers].objects = {object({{"Description", text("A")}, {"DriverVersion", text("1")}}),
                                            object({{"Description", text("B")}, {"DriverVersion", text("2")}})};
    service.answers[kAllDrivers].failAfter = 1;
    ScanFixture fx(service);
    fx.pending.set({7, "caller's"});
    EXPECT_EQ(GetDriverVersionByDescription(fx.scan, "B"), "");
    EXPECT_EQ(GetDriverVersionByDescription(fx.scan, "A"), "1");
    EXPECT_EQ(fx.pending.failure().description, "caller's");
}

// Counts the property reads of every instance the snapshot holds.
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

class CountingSource final : public wmi::ClassSource {
public:
    explicit CountingSource(std::unique_ptr<snapshot::SnapshotSource> inner) : inner_(std::move(inner)) {}
    bool hasNamespace(std::string_view ns) const override { return inner_->hasNamespace(ns); }
    Result<const std::vector<wmi::ObjectPtr>*> instances(std::string_view ns, std::string_view name) override {
        const std::string key = lowerAscii(std::string(ns) + ":" + std::string(name));
        auto found = counted_.find(key);
        if (found == counted_.end()) {
            auto objects = inner_->instances(ns, name);
            if (!objects) return objects.failure();
            std::vector<wmi::ObjectPtr> wrapped;
            for (const auto& o : **objects) wrapped.push_back(std::make_shared<CountingObject>(o, reads));
            found = counted_.emplace(key, std::move(wrapped)).first;
        }
        return &found->second;
    }
    Result<std::vector<std::string>> registrySubkeys(std::string_view path) override {
        return inner_->registrySubkeys(path);
    }
    std::optional<std::string> registryString(std::string_view path, std::string_view value) override {
        return inner_->registryString(path, value);
    }
    std::size_t reads = 0;

private:
    std::unique_ptr<snapshot::SnapshotSource> inner_;
    std::map<std::string, std::vector<wmi::ObjectPtr>> counted_;
};

// The property reads of the PNP and multimedia sections over a snapshot of
// `n` network devices, each with its adapter, and `n` media devices.
std::size_t readsForDevices(std::size_t n) {
    std::string drivers, adapters;
    for (std::size_t k = 0; k < n; ++k) {
        const std::string id = std::to_string(k);
        drivers += "{\"DeviceName\": \"NIC " + id + "\", \"DeviceClass\": \"NET\", \"Location\": \"PCI bus 2\"}," +
                   "{\"Description\": \"Audio " + id + "\", \"DeviceClass\": \"MEDIA\", \"DriverVersion\": \"" + id +
                   "\"}" + (k + 1 < n ? "," : "");
        adapters += "{\"Name\": \"NIC " + id + "\", \"MACAddress\": \"00:" + id + "\"}" + (k + 1 < n ? "," : "");
    }
    auto parsed = snapshot::SnapshotSource::parse(
        "{\"veltrix-snapshot\": 1, \"namespaces\": {\"root\\\\cimv2\": {\"Win32_PnPSignedDriver\": [" + drivers +
            "], \"Win32_NetworkAdapter\": [" + adapters + "]}}}",
        "devices.json");
    EXPECT_TRUE(parsed.ok()) << parsed.failure().description;
    CountingSource source(std::move(*parsed));
    wmi::TableService service(source);
    ScanFixture fx(service);
    WritePnpSection(fx.scan);
    WriteMultiMediaSection(fx.scan);
    const std::string lines = fx.lines();
    const std::string last = std::to_string(n - 1);
    EXPECT_NE(lines.find(rowLine("MAC Address", "00:" + last)), std::string::npos);
    EXPECT_NE(lines.find(rowLine("Driver Version", last + "&nbsp;")), std::string::npos);
    return source.reads;
}

TEST(DeviceLookupCosts, LookupsPerDeviceGrowWithTheDevicesNotTheirSquare) {
    const std::size_t small = readsForDevices(300);
    const std::size_t large = readsForDevices(1200);
    EXPECT_LT(static_cast<double>(large) / static_cast<double>(small), 6.0)
        << small << " reads for 300 devices of each kind, " << large << " for 1200: a look at every driver and "
        << "adapter per device gives about 16";
}

}  // namespace
}  // namespace veltrix
