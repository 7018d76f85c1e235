#include "providers/windows/live_service.h"

#include <wbemidl.h>

#include <algorithm>
#include <map>
#include <vector>

#include "core/trace.h"
#include "platform/windows/utf16.h"
#include "providers/windows/com_handles.h"
#include "providers/windows/hresult.h"
#include "providers/windows/variant_value.h"
#include "wmi/moniker.h"
#include "wmi/property_object.h"

namespace veltrix::win {

namespace {

constexpr std::string_view kRegistryNamespace = "root\\default";
constexpr std::string_view kRegistryClass = "StdRegProv";
constexpr std::int32_t kNoMoreItems = 259;  // ERROR_NO_MORE_ITEMS
constexpr std::int32_t kFileNotFound = 2;   // ERROR_FILE_NOT_FOUND: the key does not exist

bool equalsIgnoreCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

std::vector<std::wstring> namesOf(IWbemClassObject* object) {
    std::vector<std::wstring> names;
    SAFEARRAY* array = nullptr;
    if (FAILED(object->GetNames(nullptr, WBEM_FLAG_ALWAYS | WBEM_FLAG_NONSYSTEM_ONLY, nullptr, &array)) || !array) {
        return names;
    }
    LONG lower = 0, upper = -1;
    SafeArrayGetLBound(array, 1, &lower);
    SafeArrayGetUBound(array, 1, &upper);
    for (LONG i = lower; i <= upper; ++i) {
        BSTR name = nullptr;
        if (SUCCEEDED(SafeArrayGetElement(array, &i, &name)) && name) {
            names.emplace_back(name, SysStringLen(name));
            SysFreeString(name);
        }
    }
    SafeArrayDestroy(array);
    return names;
}

class LiveObject final : public wmi::Object {
public:
    explicit LiveObject(ComPtr<IWbemClassObject> object) : object_(std::move(object)) {}

    Result<wmi::Value> get(std::string_view name) const override {
        std::wstring wide = toWide(name);
        Variant value;
        HRESULT hr = object_->Get(wide.c_str(), 0, value.put(), nullptr, nullptr);
        if (hr == static_cast<HRESULT>(WBEM_E_NOT_FOUND)) {
            // Property names are case-insensitive; a provider that compares
            // them exactly still answers under the spelling it lists.
            for (const std::wstring& listed : namesOf(object_.get())) {
                if (listed != wide && equalsIgnoreCase(listed, wide)) {
                    hr = object_->Get(listed.c_str(), 0, value.put(), nullptr, nullptr);
                    break;
                }
            }
        }
        if (hr == static_cast<HRESULT>(WBEM_E_NOT_FOUND)) return wmi::missingProperty(name);
        if (FAILED(hr)) return hresultFailure("Get " + std::string(name), hr);
        return valueFromVariant(value.get());
    }

    std::vector<std::string> propertyNames() const override {
        std::vector<std::string> names;
        for (const std::wstring& name : namesOf(object_.get())) names.push_back(toUtf8(name));
        return names;
    }

private:
    ComPtr<IWbemClassObject> object_;
};

class LiveResultSet final : public wmi::ResultSet {
public:
    LiveResultSet(ComPtr<IEnumWbemClassObject> objects, std::chrono::milliseconds slice)
        : objects_(std::move(objects)), slice_(slice) {}

    void setDeadline(std::chrono::steady_clock::time_point deadline) override { deadline_ = deadline; }

    Result<wmi::ObjectPtr> next() override {
        if (finished_) return wmi::ObjectPtr();
        const auto started = std::chrono::steady_clock::now();
        for (;;) {
            ComPtr<IWbemClassObject> object;
            ULONG returned = 0;
            auto wait = std::min<std::chrono::steady_clock::duration>(slice_, deadline_ - std::chrono::steady_clock::now());
            const long waitMs = static_cast<long>(
                std::max<long long>(0, std::chrono::duration_cast<std::chrono::milliseconds>(wait).count()));
            HRESULT hr = objects_->Next(waitMs, 1, object.put(), &returned);
            if (FAILED(hr)) return hresultFailure("IEnumWbemClassObject::Next", hr);
            if (hr == WBEM_S_TIMEDOUT && returned == 0) {
                // The provider is still working: wait on, up to the deadline.
                if (std::chrono::steady_clock::now() >= deadline_) {
                    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - started);
                    return Failure{failure_code::kTimedOut, "IEnumWbemClassObject::Next: no answer after " +
                                                                std::to_string(waited.count()) + " ms"};
                }
                continue;
            }
            if (returned == 0 || !object) {
                finished_ = true;
                return wmi::ObjectPtr();
            }
            return wmi::ObjectPtr(std::make_shared<LiveObject>(std::move(object)));
        }
    }

private:
    ComPtr<IEnumWbemClassObject> objects_;
    std::chrono::milliseconds slice_;
    // Without a deadline a walk waits as long as its provider takes.
    std::chrono::steady_clock::time_point deadline_ = std::chrono::steady_clock::time_point::max();
    bool finished_ = false;
};

class LiveConnection final : public wmi::Connection {
public:
    LiveConnection(ComPtr<IWbemServices> services, std::shared_ptr<LiveCounters> counters)
        : services_(std::move(services)), counters_(std::move(counters)) {}

    Result<std::unique_ptr<wmi::ResultSet>> execQuery(std::string_view wql, std::string_view language,
                                                      std::int32_t flags) override {
        ++counters_->queries;
        Bstr languageText(language);
        Bstr queryText(wql);
        ComPtr<IEnumWbemClassObject> objects;
        HRESULT hr = services_->ExecQuery(languageText.get(), queryText.get(), flags, nullptr, objects.put());
        if (FAILED(hr)) return hresultFailure("ExecQuery", hr);
        if (!objects) return hresultFailure("ExecQuery", E_POINTER);
        return std::unique_ptr<wmi::ResultSet>(std::make_unique<LiveResultSet>(std::move(objects), kNextSlice));
    }

private:
    ComPtr<IWbemServices> services_;
    std::shared_ptr<LiveCounters> counters_;
};

Result<ComPtr<IWbemServices>> connectServerUntraced(const std::string& nameSpace, LiveCounters& counters) {
    ++counters.connections;
    ComPtr<IWbemLocator> locator;
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                  locator.putVoid());
    if (FAILED(hr)) return hresultFailure("CoCreateInstance WbemLocator", hr);
    Bstr path(nameSpace);
    ComPtr<IWbemServices> services;
    // The maximum-wait flag bounds the connection itself (two minutes): a
    // service that does not answer fails instead of holding the scan.
    hr = locator->ConnectServer(path.get(), nullptr, nullptr, nullptr, WBEM_FLAG_CONNECT_USE_MAX_WAIT, nullptr,
                                nullptr, services.put());
    if (FAILED(hr)) return hresultFailure("ConnectServer " + nameSpace, hr);
    hr = CoSetProxyBlanket(services.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                           RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(hr)) return hresultFailure("CoSetProxyBlanket", hr);
    return services;
}

Result<ComPtr<IWbemServices>> connectServer(const std::string& nameSpace, LiveCounters& counters) {
    trace::Stopwatch watch;
    auto services = connectServerUntraced(nameSpace, counters);
    if (trace::enabled()) {
        trace::line("wmi: connect " + nameSpace + (services ? "" : " failed: " + services.failure().description) +
                    ", " + std::to_string(watch.milliseconds()) + " ms");
    }
    return services;
}

void traceRegistryCall(const char* method, std::string_view path, std::string_view valueName,
                       const std::string& outcome, const trace::Stopwatch& watch) {
    if (!trace::enabled()) return;
    std::string text = "wmi: registry " + std::string(method) + " " + std::string(path);
    if (!valueName.empty()) text += " " + std::string(valueName);
    trace::line(text + ": " + outcome + ", " + std::to_string(watch.milliseconds()) + " ms");
}

class LiveRegistry final : public wmi::Registry {
public:
    LiveRegistry(ComPtr<IWbemServices> services, ComPtr<IWbemClassObject> provider,
                 std::shared_ptr<LiveCounters> counters)
        : services_(std::move(services)), provider_(std::move(provider)), counters_(std::move(counters)) {}

    Result<std::vector<std::string>> enumKey(std::uint32_t hive, std::string_view path) override {
        trace::Stopwatch watch;
        auto subkeys = enumKeyUntraced(hive, path);
        traceRegistryCall("EnumKey", path, {},
                          subkeys ? std::to_string(subkeys->size()) + " subkeys"
                                  : "failed: " + subkeys.failure().description,
                          watch);
        return subkeys;
    }

    std::int32_t getStringValue(std::uint32_t hive, std::string_view path, std::string_view valueName,
                                wmi::Value& out) override {
        trace::Stopwatch watch;
        std::int32_t code = getStringValueUntraced(hive, path, valueName, out);
        traceRegistryCall("GetStringValue", path, valueName, "return code " + std::to_string(code), watch);
        return code;
    }

private:
    Result<std::vector<std::string>> enumKeyUntraced(std::uint32_t hive, std::string_view path) {
        auto out = call(L"EnumKey", hive, path, nullptr);
        if (!out) return out.failure();
        auto code = returnValue(out->get(), "EnumKey");
        if (!code) return code.failure();
        // A key without subkeys ends its enumeration at once; Wine's provider
        // answers that with "no more items" instead of success. A key that
        // does not exist has no subkeys either.
        if (*code == kNoMoreItems || *code == kFileNotFound) return std::vector<std::string>();
        if (*code != 0) {
            std::string reason = systemMessage(static_cast<unsigned long>(*code));
            return Failure{*code, "EnumKey " + std::string(path) + ": " +
                                      (reason.empty() ? std::string("failed") : reason) + " (" +
                                      std::to_string(*code) + ")"};
        }
        Variant names;
        HRESULT hr = out->get()->Get(L"sNames", 0, names.put(), nullptr, nullptr);
        if (FAILED(hr)) return hresultFailure("EnumKey sNames", hr);
        auto value = valueFromVariant(names.get());
        if (!value) return value.failure();
        std::vector<std::string> subkeys;
        if (value->kind() == wmi::Kind::Array) {
            for (const wmi::Value& item : value->asArray()) subkeys.push_back(item.asText());
        }
        return subkeys;
    }

    std::int32_t getStringValueUntraced(std::uint32_t hive, std::string_view path, std::string_view valueName,
                                        wmi::Value& out) {
        out = wmi::Value::null();
        std::wstring name = toWide(valueName);
        std::int32_t code = readString(L"GetStringValue", hive, path, name, out);
        // Windows refuses GetStringValue for a value stored as REG_EXPAND_SZ
        // (installers write DisplayName or DisplayVersion so, with
        // %ProgramFiles% and the like in them); that value is read expanded,
        // as the system's own list of programs shows it. A value or key that
        // is absent (1, 2) is not asked again.
        if (code != 0 && code != 1 && code != kFileNotFound) {
            wmi::Value expanded;
            if (readString(L"GetExpandedStringValue", hive, path, name, expanded) == 0) {
                out = std::move(expanded);
                return 0;
            }
        }
        return code;
    }

    std::int32_t readString(const wchar_t* method, std::uint32_t hive, std::string_view path,
                            const std::wstring& name, wmi::Value& out) {
        auto result = call(method, hive, path, &name);
        if (!result) return result.failure().number;
        auto code = returnValue(result->get(), toUtf8(method));
        if (!code) return code.failure().number;
        if (*code != 0) return *code;
        Variant text;
        if (SUCCEEDED(result->get()->Get(L"sValue", 0, text.put(), nullptr, nullptr))) {
            auto value = valueFromVariant(text.get());
            if (value && value->isText()) out = std::move(*value);
        }
        return 0;
    }

    Result<ComPtr<IWbemClassObject>> call(const wchar_t* method, std::uint32_t hive, std::string_view path,
                                          const std::wstring* valueName) {
        std::string methodName = toUtf8(method);
        // The in-parameter signature is the same for every call of a method.
        ComPtr<IWbemClassObject>& signature = signatures_[method];
        HRESULT hr = S_OK;
        if (!signature) {
            hr = provider_->GetMethod(method, 0, signature.put(), nullptr);
            if (FAILED(hr) || !signature) {
                signature.reset();
                return hresultFailure("GetMethod " + methodName, FAILED(hr) ? hr : E_POINTER);
            }
        }
        ComPtr<IWbemClassObject> in;
        hr = signature->SpawnInstance(0, in.put());
        if (FAILED(hr)) return hresultFailure("SpawnInstance " + methodName, hr);

        Variant hiveValue;
        hiveValue.get().vt = VT_I4;
        hiveValue.get().lVal = static_cast<LONG>(hive);
        hr = in->Put(L"hDefKey", 0, &hiveValue.get(), 0);
        if (FAILED(hr)) return hresultFailure("Put hDefKey", hr);
        Variant keyValue;
        keyValue.get().vt = VT_BSTR;
        keyValue.get().bstrVal = SysAllocString(toWide(path).c_str());
        hr = in->Put(L"sSubKeyName", 0, &keyValue.get(), 0);
        if (FAILED(hr)) return hresultFailure("Put sSubKeyName", hr);
        if (valueName) {
            Variant nameValue;
            nameValue.get().vt = VT_BSTR;
            nameValue.get().bstrVal = SysAllocString(valueName->c_str());
            hr = in->Put(L"sValueName", 0, &nameValue.get(), 0);
            if (FAILED(hr)) return hresultFailure("Put sValueName", hr);
        }

        ++counters_->registryCalls;
        Bstr className{std::wstring_view(L"StdRegProv")};
        Bstr methodText{std::wstring_view(method)};
        ComPtr<IWbemClassObject> out;
        hr = services_->ExecMethod(className.get(), methodText.get(), 0, nullptr, in.get(), out.put(), nullptr);
        if (FAILED(hr)) return hresultFailure("ExecMethod " + methodName, hr);
        if (!out) return hresultFailure("ExecMethod " + methodName, E_POINTER);
        return out;
    }

    static Result<std::int32_t> returnValue(IWbemClassObject* out, const std::string& method) {
        Variant code;
        HRESULT hr = out->Get(L"ReturnValue", 0, code.put(), nullptr, nullptr);
        if (FAILED(hr)) return hresultFailure(method + " ReturnValue", hr);
        auto value = valueFromVariant(code.get());
        if (!value) return value.failure();
        double number = 0;
        if (!value->toNumber(number)) return Failure{failure_code::kTypeMismatch, method + ": no return value"};
        return static_cast<std::int32_t>(static_cast<std::int64_t>(number));
    }

    ComPtr<IWbemServices> services_;
    ComPtr<IWbemClassObject> provider_;
    std::map<std::wstring, ComPtr<IWbemClassObject>> signatures_;
    std::shared_ptr<LiveCounters> counters_;
};

Result<std::unique_ptr<wmi::Registry>> openRegistry(ComPtr<IWbemServices> services,
                                                   std::shared_ptr<LiveCounters> counters) {
    Bstr className(kRegistryClass);
    ComPtr<IWbemClassObject> provider;
    HRESULT hr = services->GetObject(className.get(), 0, nullptr, provider.put(), nullptr);
    if (FAILED(hr)) return hresultFailure("GetObject StdRegProv", hr);
    return std::unique_ptr<wmi::Registry>(
        std::make_unique<LiveRegistry>(std::move(services), std::move(provider), std::move(counters)));
}

std::string localComputerName() {
    wchar_t buffer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(buffer, &size)) return {};
    return toUtf8(std::wstring_view(buffer, size));
}

}  // namespace

Result<std::shared_ptr<LiveService>> LiveService::create(Apartment apartment) {
    std::shared_ptr<LiveService> service(new LiveService());
    HRESULT hr = CoInitializeEx(
        nullptr, apartment == Apartment::Multithreaded ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(hr)) {
        service->uninitialize_ = true;
    } else if (hr != RPC_E_CHANGED_MODE) {  // another apartment model still lets us call COM
        return hresultFailure("CoInitializeEx", hr);
    }
    hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                              RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    // Set once per process; a second service finds it set already.
    if (FAILED(hr) && hr != RPC_E_TOO_LATE) return hresultFailure("CoInitializeSecurity", hr);
    service->computerName_ = localComputerName();
    return service;
}

LiveService::~LiveService() {
    if (uninitialize_) CoUninitialize();
}

Result<std::unique_ptr<wmi::Connection>> LiveService::connect(std::string_view monikerText) {
    auto moniker = wmi::parseMoniker(monikerText, computerName_);
    if (!moniker) return moniker.failure();
    if (!moniker->className.empty()) {
        return Failure{failure_code::kInvalidMoniker, "Invalid moniker \"" + std::string(monikerText) +
                                                          "\": it names the object " + moniker->className +
                                                          ", not a namespace to query"};
    }
    auto services = connectServer(moniker->nameSpace, *counters_);
    if (!services) return services.failure();
    return std::unique_ptr<wmi::Connection>(std::make_unique<LiveConnection>(std::move(*services), counters_));
}

Result<std::unique_ptr<wmi::Registry>> LiveService::connectRegistry(std::string_view monikerText) {
    auto moniker = wmi::parseMoniker(monikerText, computerName_);
    if (!moniker) return moniker.failure();
    if (moniker->nameSpace != kRegistryNamespace ||
        !equalsIgnoreCase(toWide(moniker->className), toWide(kRegistryClass))) {
        return Failure{failure_code::kInvalidMoniker, "Invalid moniker \"" + std::string(monikerText) +
                                                          "\": the registry is reached as root\\default:StdRegProv"};
    }
    auto services = connectServer(moniker->nameSpace, *counters_);
    if (!services) return services.failure();
    return openRegistry(std::move(*services), counters_);
}

std::unique_ptr<wmi::ResultSet> walkEnumerator(IEnumWbemClassObject* objects, std::chrono::milliseconds slice) {
    objects->AddRef();
    return std::make_unique<LiveResultSet>(ComPtr<IEnumWbemClassObject>(objects), slice);
}

Result<std::unique_ptr<wmi::Registry>> registryOver(IWbemServices* services) {
    services->AddRef();
    return openRegistry(ComPtr<IWbemServices>(services), std::make_shared<LiveCounters>());
}

}  // namespace veltrix::win
