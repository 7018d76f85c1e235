#include "wmi/table_service.h"

#include <gtest/gtest.h>

#include "providers/snapshot/snapshot_source.h"

using veltrix::snapshot::SnapshotSource;
using veltrix::wmi::ObjectPtr;
using veltrix::wmi::TableService;
using veltrix::wmi::Value;
namespace wmi = veltrix::wmi;

namespace {

constexpr std::string_view kSnapshot = R"json({"veltrix-snapshot": 1, "namespaces": {"root\\cimv2": {
  "Win32_DiskDrive": [
    {"Model": "Big", "Size": 500107862016, "Status": "OK"},
    {"Model": "Stick", "Size": 134217728, "Status": "OK"},
    {"Model": "Unknown", "Size": null, "Status": "OK"}],
  "Win32_NetworkAdapter": [
    {"Name": "Realtek", "NetConnectionID": "Ethernet", "MACAddress": "00:11:22:33:44:55"},
    {"Name": "Miniport", "NetConnectionID": null, "MACAddress": null},
    {"Name": "Empty", "NetConnectionID": "", "MACAddress": "x"}],
  "Win32_WinSAT": {"error": {"number": 4112, "description": "Invalid class (0x80041010)"}}
}}, "registry": {
  "HKLM\\Software\\Uninstall\\B": {"DisplayName": "Bee"},
  "HKLM\\Software\\Uninstall\\A": {"DisplayName": "Ay", "DisplayVersion": "2"}
}})json";

std::unique_ptr<SnapshotSource> source() { return std::move(*SnapshotSource::parse(kSnapshot, "t")); }

std::vector<std::string> names(wmi::Connection& c, std::string_view wql, std::string_view property = "Model") {
    std::vector<std::string> out;
    auto rs = c.execQuery(wql, "WQL", wmi::kQueryFlags);
    EXPECT_TRUE(rs.ok()) << wql << ": " << (rs.ok() ? "" : rs.failure().description);
    if (!rs) return out;
    for (;;) {
        auto next = (*rs)->next();
        EXPECT_TRUE(next.ok());
        if (!next || !*next) break;
        out.push_back(*(*next)->get(property)->toText());
    }
    return out;
}

}  // namespace

TEST(TableService, QueriesFilterInDeliveryOrder) {
    auto src = source();
    TableService service(*src, "PC042");
    auto c = service.connect(wmi::kWmiMoniker);
    ASSERT_TRUE(c.ok());
    using V = std::vector<std::string>;
    EXPECT_EQ(names(**c, "Select * from Win32_DiskDrive"), (V{"Big", "Stick", "Unknown"}));
    EXPECT_EQ(names(**c, "Select * from Win32_DiskDrive Where Size >'268435456'"), (V{"Big"}));
    EXPECT_EQ(names(**c, "SELECT * FROM Win32_NetworkAdapter WHERE NetConnectionID  > 0 ", "Name"), (V{"Realtek"}));
    EXPECT_EQ(names(**c, "SELECT * FROM win32_diskdrive WHERE size IS NULL"), (V{"Unknown"}));
    auto winsat = (*c)->execQuery("Select * From Win32_WinSAT");
    ASSERT_FALSE(winsat.ok());
    EXPECT_EQ(winsat.failure().number, 4112);
    auto unknown = (*c)->execQuery("SELECT * FROM Win32_Nothing", "WQL", 48);
    ASSERT_FALSE(unknown.ok());
    EXPECT_NE(unknown.failure().description.find("Invalid class"), std::string::npos);
    auto syntax = (*c)->execQuery("SELECT * Win32_DiskDrive", "WQL", 48);
    ASSERT_FALSE(syntax.ok());
    EXPECT_NE(syntax.failure().description.find("position 10"), std::string::npos);
    EXPECT_FALSE((*c)->execQuery("SELECT * FROM Win32_DiskDrive", "SQL", 48).ok());
    EXPECT_EQ(names(**c, "SELECT * FROM Win32_DiskDrive", "Model").size(), 3u);  // "wql" in any case
    EXPECT_TRUE((*c)->execQuery("SELECT * FROM Win32_DiskDrive", "wql", 48).ok());
}

TEST(TableService, ProjectionLeavesOtherPropertiesNull) {
    auto src = source();
    TableService service(*src);
    auto c = service.connect(wmi::kShortMoniker);
    ASSERT_TRUE(c.ok());
    auto rs = (*c)->execQuery("SELECT MACAddress FROM Win32_NetworkAdapter WHERE Name = 'Realtek' ", "WQL", 48);
    ASSERT_TRUE(rs.ok());
    auto first = (*rs)->next();
    ASSERT_TRUE(first.ok() && *first);
    EXPECT_EQ((*first)->get("macaddress")->asText(), "00:11:22:33:44:55");
    EXPECT_TRUE((*first)->get("Name")->isNull());          // the filter saw it, the caller does not
    EXPECT_FALSE((*first)->get("NoSuchProperty").ok());    // still a failure
    auto end = (*rs)->next();
    ASSERT_TRUE(end.ok());
    EXPECT_EQ(*end, nullptr);
}

TEST(TableService, ConnectionFailures) {
    auto src = source();
    TableService service(*src);
    auto ns = service.connect("winmgmts:\\\\.\\root\\wmi");
    ASSERT_FALSE(ns.ok());
    EXPECT_NE(ns.failure().description.find("Invalid namespace"), std::string::npos);
    EXPECT_FALSE(service.connect(wmi::kRegistryMoniker).ok());
    EXPECT_FALSE(service.connectRegistry(wmi::kWmiMoniker).ok());
    EXPECT_FALSE(service.connect("winmgmts:\\\\server\\root\\cimv2").ok());

    auto down = std::move(*SnapshotSource::parse(
        R"json({"veltrix-snapshot": 1, "connect-error": {"number": 462, "description": "The remote server machine does not exist"},
            "namespaces": {"root\\cimv2": {}}})json",
        "down"));
    TableService unreachable(*down);
    auto c = unreachable.connect(wmi::kWmiMoniker);
    ASSERT_FALSE(c.ok());
    EXPECT_EQ(c.failure().number, 462);
    EXPECT_FALSE(unreachable.connectRegistry(wmi::kRegistryMoniker).ok());
}

TEST(TableService, RegistryReadsNeverLeaveStaleValues) {
    auto src = source();
    TableService service(*src);
    auto reg = service.connectRegistry(wmi::kRegistryMoniker);
    ASSERT_TRUE(reg.ok());
    auto subkeys = (*reg)->enumKey(wmi::kHkeyLocalMachine, "Software\\Uninstall\\");
    ASSERT_TRUE(subkeys.ok());
    EXPECT_EQ(*subkeys, (std::vector<std::string>{"B", "A"}));
    EXPECT_FALSE((*reg)->enumKey(0x80000001u, "Software\\Uninstall\\").ok());
    // A key that does not exist has no subkeys; that is no failure.
    auto missing = (*reg)->enumKey(wmi::kHkeyLocalMachine, "Software\\Missing");
    ASSERT_TRUE(missing.ok());
    EXPECT_TRUE(missing->empty());

    Value v;
    EXPECT_EQ((*reg)->getStringValue(wmi::kHkeyLocalMachine, "Software\\Uninstall\\A", "DisplayVersion", v), 0);
    EXPECT_EQ(v.asText(), "2");
    EXPECT_NE((*reg)->getStringValue(wmi::kHkeyLocalMachine, "Software\\Uninstall\\B", "DisplayVersion", v), 0);
    EXPECT_TRUE(v.isNull());
    v = Value::text("stale");
    EXPECT_NE((*reg)->getStringValue(0x80000001u, "Software\\Uninstall\\A", "DisplayName", v), 0);
    EXPECT_TRUE(v.isNull());
    v = Value::text("stale");
    EXPECT_NE((*reg)->getStringValue(wmi::kHkeyLocalMachine, "Software\\Nowhere", "DisplayName", v), 0);
    EXPECT_TRUE(v.isNull());
}

// A source that records the hints it is given.
class HintedSource final : public wmi::ClassSource {
public:
    std::optional<veltrix::Failure> down;
    std::vector<std::pair<std::string, std::vector<std::string>>> hints;

    std::optional<veltrix::Failure> connectError() const override { return down; }
    bool hasNamespace(std::string_view) const override { return true; }
    veltrix::Result<const std::vector<ObjectPtr>*> instances(std::string_view, std::string_view) override {
        return &none_;
    }
    veltrix::Result<std::vector<std::string>> registrySubkeys(std::string_view) override {
        return std::vector<std::string>();
    }
    std::optional<std::string> registryString(std::string_view, std::string_view) override { return std::nullopt; }
    void expectClasses(std::string_view nameSpace, const std::vector<std::string>& classNames) override {
        hints.emplace_back(std::string(nameSpace), classNames);
    }

private:
    std::vector<ObjectPtr> none_;
};

TEST(TableService, HintsReachTheSourceWithTheMonikersNamespace) {
    HintedSource source;
    TableService service(source);
    service.expectClasses(wmi::kWmiMoniker, {"Win32_BIOS", "Win32_PnPEntity"});
    service.expectClasses(wmi::kRegistryMoniker, {"StdRegProv"});
    service.expectClasses("not a moniker", {"Win32_BIOS"});
    ASSERT_EQ(source.hints.size(), 2u);
    EXPECT_EQ(source.hints[0].first, "root\\cimv2");
    EXPECT_EQ(source.hints[0].second, (std::vector<std::string>{"Win32_BIOS", "Win32_PnPEntity"}));
    EXPECT_EQ(source.hints[1].first, "root\\default");
    EXPECT_EQ(source.hints[1].second, (std::vector<std::string>{"StdRegProv"}));

    // What cannot be connected to is not started on.
    source.hints.clear();
    source.down = veltrix::Failure{462, "The remote server machine does not exist"};
    service.expectClasses(wmi::kRegistryMoniker, {"StdRegProv"});
    EXPECT_TRUE(source.hints.empty());
}
