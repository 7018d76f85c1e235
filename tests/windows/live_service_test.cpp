// Runs against the WMI service of the system the tests run on (Wine's, in
// the cross-build's test run).
#include "providers/windows/live_service.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <windows.h>
#include <wbemidl.h>

#include "providers/windows/com_handles.h"

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

// Enumerators as slow providers answer a semi-synchronous query: never, or
// "timed out" a few times before the objects come. `inner` gives the objects.
class SlowEnumerator final : public IEnumWbemClassObject {
public:
    SlowEnumerator(int timeoutsFirst, IEnumWbemClassObject* inner) : timeoutsLeft_(timeoutsFirst), inner_(inner) {
        if (inner_) inner_->AddRef();
    }
    ~SlowEnumerator() {
        if (inner_) inner_->Release();
    }
    std::vector<long> waits;  // the timeout of each Next call

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IEnumWbemClassObject) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // lives on the test's stack
    HRESULT STDMETHODCALLTYPE Reset() override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Next(long timeout, ULONG count, IWbemClassObject** objects, ULONG* returned) override {
        waits.push_back(timeout);
        *returned = 0;
        if (timeoutsLeft_ != 0 || !inner_) {
            if (timeoutsLeft_ > 0) --timeoutsLeft_;
            // A provider still working answers when the caller's wait is over.
            Sleep(static_cast<DWORD>(timeout < 0 ? 50 : std::min<long>(timeout, 50)));
            return WBEM_S_TIMEDOUT;
        }
        return inner_->Next(timeout, count, objects, returned);
    }
    HRESULT STDMETHODCALLTYPE NextAsync(ULONG, IWbemObjectSink*) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Clone(IEnumWbemClassObject**) override { return WBEM_E_NOT_SUPPORTED; }
    HRESULT STDMETHODCALLTYPE Skip(long, ULONG) override { return WBEM_E_NOT_SUPPORTED; }

private:
    ULONG references_ = 1;
    int timeoutsLeft_;  // -1: for ever
    IEnumWbemClassObject* inner_;
};

ComPtr<IWbemServices> wineServices(const wchar_t* nameSpace) {
    ComPtr<IWbemLocator> locator;
    ComPtr<IWbemServices> services;
    if (FAILED(CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                locator.putVoid())))
        return services;
    Bstr path{std::wstring_view(nameSpace)};
    locator->ConnectServer(path.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.put());
    return services;
}

using Clock = std::chrono::steady_clock;

TEST_F(LiveServiceTest, AWalkOverAProviderThatNeverAnswersEndsAtItsDeadlineWithFiniteWaits) {
    SlowEnumerator never(-1, nullptr);
    auto walk = walkEnumerator(&never, std::chrono::milliseconds(40));
    const auto start = Clock::now();
    walk->setDeadline(start + std::chrono::milliseconds(400));
    auto next = walk->next();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    ASSERT_FALSE(next.ok());
    EXPECT_EQ(next.failure().number, failure_code::kTimedOut);
    EXPECT_NE(next.failure().description.find("no answer after"), std::string::npos) << next.failure().description;
    EXPECT_GE(took, 380);
    EXPECT_LT(took, 3000);
    ASSERT_GE(never.waits.size(), 3u);  // it waited on after each "timed out"
    for (long wait : never.waits) {
        EXPECT_NE(wait, static_cast<long>(WBEM_INFINITE));
        EXPECT_GE(wait, 0);
        EXPECT_LE(wait, 40);
    }
}

TEST_F(LiveServiceTest, TimedOutAnswersAreWaitedOnUntilTheObjectsCome) {
    ComPtr<IWbemServices> services = wineServices(L"root\\cimv2");
    ASSERT_TRUE(services);
    Bstr language{std::wstring_view(L"WQL")};
    Bstr query{std::wstring_view(L"SELECT * FROM Win32_BIOS")};
    ComPtr<IEnumWbemClassObject> bios;
    ASSERT_TRUE(SUCCEEDED(services->ExecQuery(language.get(), query.get(),
                                              WBEM_FLAG_RETURN_IMMEDIATELY | WBEM_FLAG_FORWARD_ONLY, nullptr,
                                              bios.put())));
    SlowEnumerator slow(3, bios.get());
    {
        auto walk = walkEnumerator(&slow, std::chrono::milliseconds(30));
        walk->setDeadline(Clock::now() + std::chrono::seconds(30));
        auto first = walk->next();
        ASSERT_TRUE(first.ok()) << first.failure().description;
        ASSERT_TRUE(*first);
        auto maker = (*first)->get("Manufacturer");
        ASSERT_TRUE(maker.ok());
        EXPECT_TRUE(maker->isText());
        auto end = walk->next();
        ASSERT_TRUE(end.ok());
        EXPECT_FALSE(*end);
    }
    EXPECT_GE(slow.waits.size(), 5u);  // three "timed out", the object, the end
}

// StdRegProv as Windows answers it, over Wine's: GetStringValue refuses a
// value stored as REG_EXPAND_SZ with "type mismatch" (Wine reads it quietly),
// and GetExpandedStringValue, which Wine lacks, reads it expanded.
constexpr wchar_t kExpanded[] = L"GetExpandedStringValue";
constexpr HRESULT kTypeMismatch = static_cast<HRESULT>(0x80041005);

class WindowsProvider final : public IWbemClassObject {
public:
    explicit WindowsProvider(IWbemClassObject* inner) : inner_(inner) { inner_->AddRef(); }
    ~WindowsProvider() { inner_->Release(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IWbemClassObject) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return inner_->QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetMethod(LPCWSTR name, LONG flags, IWbemClassObject** in,
                                        IWbemClassObject** out) override {
        // The same in-parameters as GetStringValue.
        if (lstrcmpiW(name, kExpanded) == 0) name = L"GetStringValue";
        return inner_->GetMethod(name, flags, in, out);
    }
    // Everything else as Wine's provider answers it.
    HRESULT STDMETHODCALLTYPE GetQualifierSet(IWbemQualifierSet** a) override { return inner_->GetQualifierSet(a); }
    HRESULT STDMETHODCALLTYPE Get(LPCWSTR a, LONG b, VARIANT* c, CIMTYPE* d, LONG* e) override { return inner_->Get(a, b, c, d, e); }
    HRESULT STDMETHODCALLTYPE Put(LPCWSTR a, LONG b, VARIANT* c, CIMTYPE d) override { return inner_->Put(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR a) override { return inner_->Delete(a); }
    HRESULT STDMETHODCALLTYPE GetNames(LPCWSTR a, LONG b, VARIANT* c, SAFEARRAY** d) override { return inner_->GetNames(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE BeginEnumeration(LONG a) override { return inner_->BeginEnumeration(a); }
    HRESULT STDMETHODCALLTYPE Next(LONG a, BSTR* b, VARIANT* c, CIMTYPE* d, LONG* e) override { return inner_->Next(a, b, c, d, e); }
    HRESULT STDMETHODCALLTYPE EndEnumeration() override { return inner_->EndEnumeration(); }
    HRESULT STDMETHODCALLTYPE GetPropertyQualifierSet(LPCWSTR a, IWbemQualifierSet** b) override { return inner_->GetPropertyQualifierSet(a, b); }
    HRESULT STDMETHODCALLTYPE Clone(IWbemClassObject** a) override { return inner_->Clone(a); }
    HRESULT STDMETHODCALLTYPE GetObjectText(LONG a, BSTR* b) override { return inner_->GetObjectText(a, b); }
    HRESULT STDMETHODCALLTYPE SpawnDerivedClass(LONG a, IWbemClassObject** b) override { return inner_->SpawnDerivedClass(a, b); }
    HRESULT STDMETHODCALLTYPE SpawnInstance(LONG a, IWbemClassObject** b) override { return inner_->SpawnInstance(a, b); }
    HRESULT STDMETHODCALLTYPE CompareTo(LONG a, IWbemClassObject* b) override { return inner_->CompareTo(a, b); }
    HRESULT STDMETHODCALLTYPE GetPropertyOrigin(LPCWSTR a, BSTR* b) override { return inner_->GetPropertyOrigin(a, b); }
    HRESULT STDMETHODCALLTYPE InheritsFrom(LPCWSTR a) override { return inner_->InheritsFrom(a); }
    HRESULT STDMETHODCALLTYPE PutMethod(LPCWSTR a, LONG b, IWbemClassObject* c, IWbemClassObject* d) override { return inner_->PutMethod(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE DeleteMethod(LPCWSTR a) override { return inner_->DeleteMethod(a); }
    HRESULT STDMETHODCALLTYPE BeginMethodEnumeration(LONG a) override { return inner_->BeginMethodEnumeration(a); }
    HRESULT STDMETHODCALLTYPE NextMethod(LONG a, BSTR* b, IWbemClassObject** c, IWbemClassObject** d) override { return inner_->NextMethod(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE EndMethodEnumeration() override { return inner_->EndMethodEnumeration(); }
    HRESULT STDMETHODCALLTYPE GetMethodQualifierSet(LPCWSTR a, IWbemQualifierSet** b) override { return inner_->GetMethodQualifierSet(a, b); }
    HRESULT STDMETHODCALLTYPE GetMethodOrigin(LPCWSTR a, BSTR* b) override { return inner_->GetMethodOrigin(a, b); }

private:
    ULONG references_ = 1;
    IWbemClassObject* inner_;
};

class WindowsRegistryServices final : public IWbemServices {
public:
    explicit WindowsRegistryServices(IWbemServices* inner) : inner_(inner) { inner_->AddRef(); }
    ~WindowsRegistryServices() { inner_->Release(); }
    int refusedAsExpandable = 0;  // GetStringValue calls answered "type mismatch"
    int expandedReads = 0;        // GetExpandedStringValue calls
    HRESULT putFailure = S_OK;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IWbemServices) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override { return --references_; }  // lives on the test's stack

    HRESULT STDMETHODCALLTYPE GetObject(const BSTR path, LONG flags, IWbemContext* context, IWbemClassObject** object,
                                        IWbemCallResult** result) override {
        IWbemClassObject* real = nullptr;
        HRESULT hr = inner_->GetObject(path, flags, context, &real, result);
        if (FAILED(hr) || !real) return hr;
        *object = new WindowsProvider(real);
        real->Release();
        return hr;
    }

    HRESULT STDMETHODCALLTYPE ExecMethod(const BSTR path, const BSTR method, LONG flags, IWbemContext* context,
                                         IWbemClassObject* in, IWbemClassObject** out,
                                         IWbemCallResult** result) override {
        const bool expanded = lstrcmpiW(method, kExpanded) == 0;
        if (expanded) ++expandedReads;
        Bstr getString{std::wstring_view(L"GetStringValue")};
        const BSTR sent = expanded ? getString.get() : method;
        if (!expanded && lstrcmpiW(method, L"GetStringValue") == 0 && storedExpandable(in)) {
            // Out-parameters holding nothing but the refusal.
            ++refusedAsExpandable;
            Bstr provider{std::wstring_view(L"StdRegProv")};
            ComPtr<IWbemClassObject> object, signature, answer;
            HRESULT hr = inner_->GetObject(provider.get(), 0, nullptr, object.put(), nullptr);
            if (SUCCEEDED(hr)) hr = object->GetMethod(L"GetStringValue", 0, nullptr, signature.put());
            if (SUCCEEDED(hr)) hr = signature->SpawnInstance(0, answer.put());
            Variant code;
            code.get().vt = VT_UI4;
            code.get().ulVal = static_cast<ULONG>(kTypeMismatch);
            if (SUCCEEDED(hr)) hr = answer->Put(L"ReturnValue", 0, &code.get(), 0);
            putFailure = hr;
            if (FAILED(hr)) return hr;
            *out = answer.get();
            (*out)->AddRef();
            return S_OK;
        }
        // Wine's GetStringValue reads an expandable value expanded already.
        return inner_->ExecMethod(path, sent, flags, context, in, out, result);
    }

    HRESULT STDMETHODCALLTYPE OpenNamespace(const BSTR a, LONG b, IWbemContext* c, IWbemServices** d, IWbemCallResult** e) override { return inner_->OpenNamespace(a, b, c, d, e); }
    HRESULT STDMETHODCALLTYPE CancelAsyncCall(IWbemObjectSink* a) override { return inner_->CancelAsyncCall(a); }
    HRESULT STDMETHODCALLTYPE QueryObjectSink(LONG a, IWbemObjectSink** b) override { return inner_->QueryObjectSink(a, b); }
    HRESULT STDMETHODCALLTYPE GetObjectAsync(const BSTR a, LONG b, IWbemContext* c, IWbemObjectSink* d) override { return inner_->GetObjectAsync(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE PutClass(IWbemClassObject* a, LONG b, IWbemContext* c, IWbemCallResult** d) override { return inner_->PutClass(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE PutClassAsync(IWbemClassObject* a, LONG b, IWbemContext* c, IWbemObjectSink* d) override { return inner_->PutClassAsync(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE DeleteClass(const BSTR a, LONG b, IWbemContext* c, IWbemCallResult** d) override { return inner_->DeleteClass(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE DeleteClassAsync(const BSTR a, LONG b, IWbemContext* c, IWbemObjectSink* d) override { return inner_->DeleteClassAsync(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE CreateClassEnum(const BSTR a, LONG b, IWbemContext* c, IEnumWbemClassObject** d) override { return inner_->CreateClassEnum(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE CreateClassEnumAsync(const BSTR a, LONG b, IWbemContext* c, IWbemObjectSink* d) override { return inner_->CreateClassEnumAsync(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE PutInstance(IWbemClassObject* a, LONG b, IWbemContext* c, IWbemCallResult** d) override { return inner_->PutInstance(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE PutInstanceAsync(IWbemClassObject* a, LONG b, IWbemContext* c, IWbemObjectSink* d) override { return inner_->PutInstanceAsync(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE DeleteInstance(const BSTR a, LONG b, IWbemContext* c, IWbemCallResult** d) override { return inner_->DeleteInstance(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE DeleteInstanceAsync(const BSTR a, LONG b, IWbemContext* c, IWbemObjectSink* d) override { return inner_->DeleteInstanceAsync(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnum(const BSTR a, LONG b, IWbemContext* c, IEnumWbemClassObject** d) override { return inner_->CreateInstanceEnum(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE CreateInstanceEnumAsync(const BSTR a, LONG b, IWbemContext* c, IWbemObjectSink* d) override { return inner_->CreateInstanceEnumAsync(a, b, c, d); }
    HRESULT STDMETHODCALLTYPE ExecQuery(const BSTR a, const BSTR b, LONG c, IWbemContext* d, IEnumWbemClassObject** e) override { return inner_->ExecQuery(a, b, c, d, e); }
    HRESULT STDMETHODCALLTYPE ExecQueryAsync(const BSTR a, const BSTR b, LONG c, IWbemContext* d, IWbemObjectSink* e) override { return inner_->ExecQueryAsync(a, b, c, d, e); }
    HRESULT STDMETHODCALLTYPE ExecNotificationQuery(const BSTR a, const BSTR b, LONG c, IWbemContext* d, IEnumWbemClassObject** e) override { return inner_->ExecNotificationQuery(a, b, c, d, e); }
    HRESULT STDMETHODCALLTYPE ExecNotificationQueryAsync(const BSTR a, const BSTR b, LONG c, IWbemContext* d, IWbemObjectSink* e) override { return inner_->ExecNotificationQueryAsync(a, b, c, d, e); }
    HRESULT STDMETHODCALLTYPE ExecMethodAsync(const BSTR a, const BSTR b, LONG c, IWbemContext* d, IWbemClassObject* e, IWbemObjectSink* f) override { return inner_->ExecMethodAsync(a, b, c, d, e, f); }

private:
    // Whether the value the call names is stored as REG_EXPAND_SZ.
    static bool storedExpandable(IWbemClassObject* in) {
        Variant key, name;
        if (FAILED(in->Get(L"sSubKeyName", 0, key.put(), nullptr, nullptr)) || key.get().vt != VT_BSTR) return false;
        if (FAILED(in->Get(L"sValueName", 0, name.put(), nullptr, nullptr)) || name.get().vt != VT_BSTR) return false;
        DWORD type = 0;
        return RegGetValueW(HKEY_LOCAL_MACHINE, key.get().bstrVal, name.get().bstrVal, RRF_RT_ANY | RRF_NOEXPAND,
                            &type, nullptr, nullptr) == ERROR_SUCCESS &&
               type == REG_EXPAND_SZ;
    }
    ULONG references_ = 1;
    IWbemServices* inner_;
};

TEST_F(RegistryFixture, ExpandableNamesAndVersionsAreReadWhereWindowsRefusesThemAsStrings) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\VeltrixTest\\Expandable", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    auto store = [&](const wchar_t* name, DWORD type, const std::wstring& text) {
        RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    };
    store(L"DisplayName", REG_EXPAND_SZ, L"Pr\u00fcfer in %SystemRoot%");
    store(L"DisplayVersion", REG_EXPAND_SZ, L"2.4");
    store(L"Publisher", REG_SZ, L"Veltrix \u20ac");
    RegCloseKey(key);
    wchar_t systemRoot[MAX_PATH] = {};
    ASSERT_GT(GetEnvironmentVariableW(L"SystemRoot", systemRoot, MAX_PATH), 0u);

    ComPtr<IWbemServices> wine = wineServices(L"root\\default");
    ASSERT_TRUE(wine);
    WindowsRegistryServices windows(wine.get());
    {
        auto registry = registryOver(&windows);
        ASSERT_TRUE(registry.ok()) << registry.failure().description;
        const char* path = "Software\\VeltrixTest\\Expandable";
        wmi::Value value;
        EXPECT_EQ((*registry)->getStringValue(wmi::kHkeyLocalMachine, path, "DisplayName", value), 0);
        EXPECT_EQ(value, wmi::Value::text("Pr\xc3\xbc" "fer in " + toUtf8(systemRoot)));
        EXPECT_EQ((*registry)->getStringValue(wmi::kHkeyLocalMachine, path, "DisplayVersion", value), 0);
        EXPECT_EQ(value, wmi::Value::text("2.4"));
        EXPECT_EQ(windows.refusedAsExpandable, 2);
        EXPECT_EQ(windows.putFailure, S_OK);
        EXPECT_EQ(windows.expandedReads, 2);
        // Plain strings and absent values take one call each, as before.
        EXPECT_EQ((*registry)->getStringValue(wmi::kHkeyLocalMachine, path, "Publisher", value), 0);
        EXPECT_EQ(value, wmi::Value::text("Veltrix \xe2\x82\xac"));
        EXPECT_NE((*registry)->getStringValue(wmi::kHkeyLocalMachine, path, "InstallDate", value), 0);
        EXPECT_TRUE(value.isNull());
        EXPECT_EQ(windows.expandedReads, 2);
    }
}

}  // namespace
}  // namespace veltrix::win
