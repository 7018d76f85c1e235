// Runs against the WMI service of the system the tests run on (Wine's, in
// the cross-build's test run).
#include "providers/windows/live_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>

namespace veltrix::win {
namespace {

class LiveServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto created = LiveService::create();
        ASSERT_TRUE(created.ok()) << created.failure().description;
        service = std::move(*created);
    }

    std::vector<wmi::ObjectPtr> query(std::string_view wql) {
        auto connection = service->connect(wmi::kWmiMoniker);
        EXPECT_TRUE(connection.ok()) << connection.failure().description;
        if (!connection) return {};
        auto results = (*connection)->execQuery(wql, "WQL", wmi::kQueryFlags);
        EXPECT_TRUE(results.ok()) << results.failure().description;
        if (!results) return {};
        std::vector<wmi::ObjectPtr> objects;
        for (;;) {
            auto next = (*results)->next();
            EXPECT_TRUE(next.ok());
            if (!next || !*next) break;
            objects.push_back(*next);
        }
        // A finished walk stays finished.
        auto after = (*results)->next();
        EXPECT_TRUE(after.ok() && !*after);
        return objects;
    }

    std::shared_ptr<LiveService> service;
};

TEST_F(LiveServiceTest, ReadsTheBiosWithPropertyNamesInAnyCase) {
    auto objects = query("Select * from Win32_Bios");
    ASSERT_EQ(objects.size(), 1u);
    auto exact = objects[0]->get("Manufacturer");
    auto lower = objects[0]->get("manufacturer");
    ASSERT_TRUE(exact.ok() && lower.ok());
    EXPECT_TRUE(exact->isText());
    EXPECT_EQ(*exact, *lower);
    auto names = objects[0]->propertyNames();
    EXPECT_NE(std::find(names.begin(), names.end(), "SMBIOSBIOSVersion"), names.end());

    auto missing = objects[0]->get("NoSuchProperty");
    ASSERT_FALSE(missing.ok());
    EXPECT_GT(missing.failure().number, 0);

    EXPECT_EQ(service->counters().connections, 1);
    EXPECT_EQ(service->counters().queries, 1);
}

TEST_F(LiveServiceTest, NumbersArriveAsNumbers) {
    auto objects = query("Select * from Win32_OperatingSystem");
    ASSERT_FALSE(objects.empty());
    auto language = objects[0]->get("OSLanguage");
    ASSERT_TRUE(language.ok()) << language.failure().description;
    EXPECT_TRUE(language->isNumber());
}

// The failure of a query, from ExecQuery itself or (with "return
// immediately") from the first step of the walk; nullopt when the walk ends
// without one.
std::optional<Failure> queryFailure(wmi::Connection& connection, std::string_view wql) {
    auto results = connection.execQuery(wql, "WQL", wmi::kQueryFlags);
    if (!results) return results.failure();
    for (;;) {
        auto next = (*results)->next();
        if (!next) return next.failure();
        if (!*next) return std::nullopt;
    }
}

TEST_F(LiveServiceTest, BadQueriesFailWithTheMappedHresult) {
    auto connection = service->connect(wmi::kWmiMoniker);
    ASSERT_TRUE(connection.ok());
    auto syntax = queryFailure(**connection, "Select * frm Win32_Bios");
    ASSERT_TRUE(syntax.has_value());
    EXPECT_EQ(syntax->number, failure_code::kInvalidQuery);
    EXPECT_NE(syntax->description.find("Invalid query (0x80041017)"), std::string::npos) << syntax->description;

    // Windows refuses a class it does not know; Wine answers with no objects.
    auto unknown = queryFailure(**connection, "Select * from Win32_NoSuchClass");
    if (unknown) {
        EXPECT_EQ(unknown->number, failure_code::kInvalidClass);
        EXPECT_NE(unknown->description.find("Invalid class (0x80041010)"), std::string::npos);
    }
}

TEST_F(LiveServiceTest, MonikersAreCheckedBeforeConnecting) {
    EXPECT_TRUE(service->connect(wmi::kShortMoniker).ok());
    auto remote = service->connect("winmgmts:\\\\elsewhere\\root\\cimv2");
    ASSERT_FALSE(remote.ok());
    EXPECT_EQ(remote.failure().number, failure_code::kInvalidMoniker);
    EXPECT_FALSE(service->connect(wmi::kRegistryMoniker).ok());
    EXPECT_FALSE(service->connectRegistry(wmi::kWmiMoniker).ok());
    auto missing = service->connect("winmgmts:\\\\.\\root\\nowhere");
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.failure().number, failure_code::kInvalidNamespace) << missing.failure().description;
}

TEST_F(LiveServiceTest, RegistryListsSubkeysAndReadsStrings) {
    auto registry = service->connectRegistry(wmi::kRegistryMoniker);
    ASSERT_TRUE(registry.ok()) << registry.failure().description;
    auto subkeys = (*registry)->enumKey(wmi::kHkeyLocalMachine, "Software\\Microsoft\\Windows NT");
    ASSERT_TRUE(subkeys.ok()) << subkeys.failure().description;
    EXPECT_NE(std::find(subkeys->begin(), subkeys->end(), "CurrentVersion"), subkeys->end());

    wmi::Value value;
    EXPECT_EQ((*registry)->getStringValue(wmi::kHkeyLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion",
                                          "CurrentVersion", value),
              0);
    ASSERT_TRUE(value.isText());
    EXPECT_FALSE(value.asText().empty());

    // A value that is missing leaves Null behind, never the earlier text.
    EXPECT_NE((*registry)->getStringValue(wmi::kHkeyLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion",
                                          "NoSuchValue", value),
              0);
    EXPECT_TRUE(value.isNull());

    // A key that does not exist has no subkeys, as the snapshot and Linux
    // sources answer it too.
    auto absent = (*registry)->enumKey(wmi::kHkeyLocalMachine, "Software\\NoSuchVendor\\NoSuchKey");
    ASSERT_TRUE(absent.ok()) << absent.failure().description;
    EXPECT_TRUE(absent->empty());
    EXPECT_GT(service->counters().registryCalls, 0);
}

// Keys of our own under HKEY_LOCAL_MACHINE\Software\VeltrixTest, removed again.
class RegistryFixture : public LiveServiceTest {
protected:
    void SetUp() override {
        LiveServiceTest::SetUp();
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\VeltrixTest\\Empty", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\VeltrixTest\\Filled", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const std::wstring name = L"Pr\u00fcf & <Tool> \u20ac";
        RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                       static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    void TearDown() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\VeltrixTest"); }
};

TEST_F(RegistryFixture, EmptyKeysListNothingAndTextKeepsEveryCharacter) {
    auto registry = service->connectRegistry(wmi::kRegistryMoniker);
    ASSERT_TRUE(registry.ok()) << registry.failure().description;
    auto children = (*registry)->enumKey(wmi::kHkeyLocalMachine, "Software\\VeltrixTest");
    ASSERT_TRUE(children.ok()) << children.failure().description;
    std::sort(children->begin(), children->end());
    EXPECT_EQ(*children, (std::vector<std::string>{"Empty", "Filled"}));

    auto none = (*registry)->enumKey(wmi::kHkeyLocalMachine, "Software\\VeltrixTest\\Empty");
    ASSERT_TRUE(none.ok()) << none.failure().description;
    EXPECT_TRUE(none->empty());

    wmi::Value value;
    EXPECT_EQ((*registry)->getStringValue(wmi::kHkeyLocalMachine, "Software\\VeltrixTest\\Filled", "DisplayName",
                                          value),
              0);
    EXPECT_EQ(value, wmi::Value::text("Pr\xc3\xbc" "f & <Tool> \xe2\x82\xac"));
    EXPECT_NE((*registry)->getStringValue(wmi::kHkeyLocalMachine, "Software\\VeltrixTest\\Filled",
                                          "DisplayVersion", value),
              0);
    EXPECT_TRUE(value.isNull());
}

}  // namespace
}  // namespace veltrix::win
