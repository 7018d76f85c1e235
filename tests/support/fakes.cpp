#include "support/fakes.h"

#include <stdexcept>

namespace veltrix::test {

namespace {

class ScriptedResults final : public wmi::ResultSet {
public:
    explicit ScriptedResults(ScriptedService::Answer answer) : answer_(std::move(answer)) {}
    Result<wmi::ObjectPtr> next() override {
        if (answer_.failAfter && index_ == *answer_.failAfter) {
            return Failure{failure_code::kNotFound, "Generic failure (walk)"};
        }
        if (index_ >= answer_.objects.size()) return wmi::ObjectPtr();
        return answer_.objects[index_++];
    }

private:
    ScriptedService::Answer answer_;
    std::size_t index_ = 0;
};

class ScriptedConnection final : public wmi::Connection {
public:
    explicit ScriptedConnection(ScriptedService& service) : service_(service) {}
    Result<std::unique_ptr<wmi::ResultSet>> execQuery(std::string_view wql, std::string_view,
                                                      std::int32_t) override {
        service_.queries.emplace_back(wql);
        auto it = service_.answers.find(std::string(wql));
        if (it == service_.answers.end()) {
            return Failure{failure_code::kInvalidQuery, "Invalid query: " + std::string(wql)};
        }
        if (it->second.failure) return *it->second.failure;
        return std::unique_ptr<wmi::ResultSet>(std::make_unique<ScriptedResults>(it->second));
    }

private:
    ScriptedService& service_;
};

class ScriptedRegistry final : public wmi::Registry {
public:
    explicit ScriptedRegistry(ScriptedService::Registry& data) : data_(data) {}
    Result<std::vector<std::string>> enumKey(std::uint32_t hive, std::string_view path) override {
        if (auto failure = data_.keyFailures.find(std::string(path)); failure != data_.keyFailures.end())
            return failure->second;
        if (hive != wmi::kHkeyLocalMachine) return Failure{failure_code::kInvalidArgument, "Invalid parameter"};
        auto it = data_.subkeys.find(std::string(path));
        if (it == data_.subkeys.end()) return std::vector<std::string>();  // a missing key has no subkeys
        return it->second;
    }
    std::int32_t getStringValue(std::uint32_t hive, std::string_view path, std::string_view valueName,
                                wmi::Value& out) override {
        ++data_.reads;
        out = wmi::Value::null();
        auto key = data_.values.find(std::string(path));
        if (hive != wmi::kHkeyLocalMachine || key == data_.values.end()) return 1;
        auto value = key->second.find(std::string(valueName));
        if (value == key->second.end()) return 1;
        out = wmi::Value::text(value->second);
        return 0;
    }

private:
    ScriptedService::Registry& data_;
};

}  // namespace

Result<std::unique_ptr<wmi::Connection>> ScriptedService::connect(std::string_view moniker) {
    monikers.emplace_back(moniker);
    if (connectFailure) return *connectFailure;
    return std::unique_ptr<wmi::Connection>(std::make_unique<ScriptedConnection>(*this));
}

Result<std::unique_ptr<wmi::Registry>> ScriptedService::connectRegistry(std::string_view moniker) {
    monikers.emplace_back(moniker);
    if (!registry) return Failure{failure_code::kInvalidClass, "no registry in this test"};
    if (registry->connectFailure) return *registry->connectFailure;
    return std::unique_ptr<wmi::Registry>(std::make_unique<ScriptedRegistry>(*registry));
}

wmi::ObjectPtr object(std::vector<std::pair<std::string, wmi::Value>> properties) {
    return std::make_shared<wmi::PropertyObject>(std::move(properties));
}

void RecordingUi::messageBox(std::string_view text, MessageStyle style, std::string_view title) {
    messages.emplace_back(text);
    calls.push_back("messageBox(" + std::string(text) + "," + std::to_string(static_cast<int>(style)) + "," +
                    std::string(title) + ")");
}

Status RecordingUi::closeNameDialog() {
    calls.emplace_back("closeNameDialog");
    return {};
}
Status RecordingUi::setPointer(int pointer) {
    calls.push_back("setPointer(" + std::to_string(pointer) + ")");
    return {};
}
Status RecordingUi::progressSetCaption(std::string_view caption) {
    calls.push_back("progressSetCaption(" + std::string(caption) + ")");
    return {};
}
Status RecordingUi::progressVisiblePicture(std::uint32_t back, std::uint32_t fore, bool bold) {
    calls.push_back("progressVisiblePicture(" + std::to_string(back) + "," + std::to_string(fore) + "," +
                    (bold ? "1" : "0") + ")");
    return {};
}
Status RecordingUi::progressSetMessage(std::string_view message) {
    calls.push_back("progressSetMessage(" + std::string(message) + ")");
    return {};
}
Status RecordingUi::progressShow() {
    calls.emplace_back("progressShow");
    return {};
}
Status RecordingUi::progressUpdate(std::int32_t percent) {
    calls.push_back("progressUpdate(" + std::to_string(percent) + ")");
    return {};
}
Status RecordingUi::progressUnload() {
    calls.emplace_back("progressUnload");
    if (failProgressUnload) return *failProgressUnload;
    return {};
}
Status RecordingUi::unloadMainWindow() {
    calls.emplace_back("unloadMainWindow");
    return {};
}

ScanFixture::ScanFixture(wmi::Service& service, Platform* platform, bool hotfix, bool software)
    : boxes(hotfix, software),
      scan{report, service, pending, locale, platform ? *platform : defaultPlatform, boxes, "PC042.htm", ""} {}

std::string ScanFixture::lines() const {
    std::string out;
    const std::string& b = report.bytes();
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (b[i] == '\r' && i + 1 < b.size() && b[i + 1] == '\n') continue;
        out += b[i];
    }
    return out;
}

std::string headLines(const std::string& title) {
    return "<table border='0' cellpadding='2' cellspacing='0' style='border-collapse:collapse'>\n"
           "<tr><td bgcolor='#000000' class='td1'><font face='Arial' color='#ffffff' ><strong>&nbsp;" +
           title + "</strong></td></tr>\n";
}

std::string rowLine(const std::string& label, const std::string& value) {
    return "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>" + label +
           "</td><td width='550' bgcolor='#d9d9d9' class='td1'>" + value + "</td></tr>\n";
}

}  // namespace veltrix::test
