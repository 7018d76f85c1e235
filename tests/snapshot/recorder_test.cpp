#include "providers/snapshot/recorder.h"

#include <gtest/gtest.h>

#include "providers/snapshot/snapshot_source.h"
#include "support/native_platform.h"
#include "wmi/table_service.h"

using veltrix::snapshot::RecordingService;
using veltrix::snapshot::SnapshotSource;
using veltrix::wmi::TableService;
using veltrix::wmi::Value;
namespace wmi = veltrix::wmi;

namespace {

constexpr std::string_view kMachine = R"json({"veltrix-snapshot": 1, "source": "bench",
"namespaces": {"root\\cimv2": {
  "Win32_BIOS": [{"Manufacturer": "LENOVO", "SerialNumber": null, "Version": 7}],
  "Win32_DiskDrive": [{"Model": "Big", "Size": 500107862016}, {"Model": "Small", "Size": 1000}],
  "Win32_WinSAT": [{"CPUScore": 7.3, "MemoryScore": 5.9, "DiskScore": 8.0, "Ratio": 0.1}],
  "Win32_NetworkAdapter": [{"Name": "Realtek", "MACAddress": "00:11"}, {"Name": "Other", "MACAddress": null}],
  "Win32_Fail": {"error": {"number": 4112, "description": "Invalid class (0x80041010)"}},
  "Win32_Unqueried": [{"X": 1}]
}},
"registry": {
  "HKLM\\Software\\Uninstall\\Zed": {"DisplayName": "Zed", "DisplayVersion": "1"},
  "HKLM\\Software\\Uninstall\\Alpha": {"DisplayName": "Alpha"},
  "HKLM\\Software\\Uninstall\\NoName": {"Other": "x"},
  "HKLM\\Software\\Unvisited": {"Secret": "y"}
}})json";

const char* const kQueries[] = {
    "Select * from Win32_Bios",
    "Select * from Win32_DiskDrive Where Size >'268435456'",
    "Select * From Win32_WinSAT",
    "SELECT MACAddress FROM Win32_NetworkAdapter WHERE Name = 'Realtek' ",
    "SELECT * FROM Win32_Fail",
    "SELECT * FROM Win32_Missing",
};

// Everything a scan-like sequence sees, as one text: values with their kinds,
// failures, registry answers.
std::string scan(wmi::Service& service) {
    std::string log;
    auto c = service.connect(wmi::kWmiMoniker);
    if (!c) return "connect failed: " + c.failure().description;
    for (const char* wql : kQueries) {
        log += std::string(wql) + "\n";
        auto rs = (*c)->execQuery(wql, "WQL", wmi::kQueryFlags);
        if (!rs) {
            log += "  fails " + std::to_string(rs.failure().number) + " " + rs.failure().description + "\n";
            continue;
        }
        while (auto next = (*rs)->next()) {
            if (!*next) break;
            for (const std::string& name : (*next)->propertyNames()) {
                Value v = *(*next)->get(name);
                log += "  " + name + "=" + std::to_string(int(v.kind())) + ":" + *v.toText() + "\n";
            }
        }
    }
    auto reg = service.connectRegistry(wmi::kRegistryMoniker);
    if (!reg) return log + "registry failed";
    const std::string path = "Software\\Uninstall\\";
    auto subkeys = (*reg)->enumKey(wmi::kHkeyLocalMachine, path);
    if (!subkeys) return log + "enum failed";
    for (const std::string& key : *subkeys) {
        for (const char* valueName : {"DisplayName", "DisplayVersion", "QuietDisplayName"}) {
            Value v;
            int code = (*reg)->getStringValue(wmi::kHkeyLocalMachine, path + key, valueName, v);
            log += key + "/" + valueName + " " + std::to_string(code) + " " + *v.toText() + "\n";
        }
    }
    return log;
}

}  // namespace

TEST(Recorder, ReplayGivesTheSameAnswers) {
    auto machine = std::move(*SnapshotSource::parse(kMachine, "machine"));
    TableService live(*machine);
    RecordingService recorder(live, "recorded in a test");
    const std::string original = scan(recorder);
    EXPECT_NE(original.find("Size=6:500107862016"), std::string::npos);  // Text of digits, not a number
    EXPECT_NE(original.find("CPUScore=4:7.3"), std::string::npos);       // Real32

    const std::string json = recorder.toJson();
    auto replayed = SnapshotSource::parse(json, "recorded");
    ASSERT_TRUE(replayed.ok()) << replayed.failure().description << "\n" << json;
    EXPECT_EQ((*replayed)->sourceText(), "recorded in a test");
    TableService replay(**replayed);
    EXPECT_EQ(scan(replay), original);

    // Only what the scan asked for is kept.
    EXPECT_EQ(json.find("Win32_Unqueried"), std::string::npos);
    EXPECT_EQ(json.find("Secret"), std::string::npos);
    EXPECT_NE(json.find("5.9"), std::string::npos);  // floats are written in their short form
    EXPECT_NE(json.find("NoName"), std::string::npos);  // a key without the values asked for is kept
}

TEST(Recorder, ConnectErrorOnlyWhenNothingEverConnected) {
    auto down = std::move(*SnapshotSource::parse(
        R"json({"veltrix-snapshot": 1, "connect-error": {"number": 462, "description": "unreachable"}})json", "down"));
    TableService unreachable(*down);
    RecordingService failing(unreachable, "");
    EXPECT_FALSE(failing.connect(wmi::kWmiMoniker).ok());
    auto replayed = SnapshotSource::parse(failing.toJson(), "r");
    ASSERT_TRUE(replayed.ok());
    ASSERT_TRUE((*replayed)->connectError());
    EXPECT_EQ((*replayed)->connectError()->number, 462);

    auto machine = std::move(*SnapshotSource::parse(kMachine, "machine"));
    TableService live(*machine);
    RecordingService mixed(live, "");
    EXPECT_FALSE(mixed.connect("winmgmts:\\\\.\\root\\wmi").ok());  // a namespace the machine lacks
    EXPECT_TRUE(mixed.connect(wmi::kShortMoniker).ok());             // connected without a query
    auto again = SnapshotSource::parse(mixed.toJson(), "r");
    ASSERT_TRUE(again.ok());
    EXPECT_FALSE((*again)->connectError());
    TableService replay(**again);
    EXPECT_TRUE(replay.connect(wmi::kWmiMoniker).ok());
    EXPECT_FALSE(replay.connect("winmgmts:\\\\.\\root\\wmi").ok());
}

TEST(Recorder, SaveNamesTheFileItCannotWrite) {
    auto machine = std::move(*SnapshotSource::parse(kMachine, "machine"));
    TableService live(*machine);
    RecordingService recorder(live, "");
    veltrix::test::NativePlatform platform(::testing::TempDir());
    auto status = recorder.save(platform, "/nonexistent/dir/out.json");
    ASSERT_FALSE(status.ok());
    EXPECT_NE(status.failure.description.find("/nonexistent/dir/out.json"), std::string::npos);
    std::string path = ::testing::TempDir() + "veltrix_recorded.json";
    ASSERT_TRUE(recorder.save(platform, path).ok());
    EXPECT_TRUE(SnapshotSource::load(path).ok());
}
