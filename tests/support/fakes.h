// Test doubles shared by the tests: a scripted data source, a Ui that records
// every call, and a scan context over an in-memory report.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/ui.h"
#include "core/locale.h"
#include "report/report_stream.h"
#include "sections/scan_context.h"
#include "support/native_platform.h"
#include "wmi/property_object.h"
#include "wmi/service.h"

namespace veltrix::test {

// Answers each query text with a fixed list of objects, or a failure; an
// unscripted query fails. A walk may be made to fail after N objects.
class ScriptedService final : public wmi::Service {
public:
    struct Answer {
        std::vector<wmi::ObjectPtr> objects;
        std::optional<Failure> failure;        // the query itself fails
        std::optional<std::size_t> failAfter;  // next() fails after this many objects
    };

    std::optional<Failure> connectFailure;
    std::map<std::string, Answer> answers;
    std::vector<std::string> queries;   // every query text, in order
    std::vector<std::string> monikers;  // every moniker connected with

    // The registry behind connectRegistry. Without it connectRegistry fails.
    // Key paths exactly as the collector passes them; a key missing from
    // `subkeys` has no subkeys, one in `keyFailures` makes enumKey fail, a
    // value missing from `values` reads as Null with return code 1.
    struct Registry {
        std::map<std::string, std::vector<std::string>> subkeys;
        std::map<std::string, Failure> keyFailures;
        std::map<std::string, std::map<std::string, std::string>> values;  // key path -> name -> text
        std::optional<Failure> connectFailure;
        std::size_t reads = 0;  // getStringValue calls
    };
    std::optional<Registry> registry;

    Result<std::unique_ptr<wmi::Connection>> connect(std::string_view moniker) override;
    Result<std::unique_ptr<wmi::Registry>> connectRegistry(std::string_view moniker) override;
};

wmi::ObjectPtr object(std::vector<std::pair<std::string, wmi::Value>> properties);
inline wmi::Value text(std::string s) { return wmi::Value::text(std::move(s)); }
inline wmi::Value int32(std::int32_t i) { return wmi::Value::int32(i); }
inline wmi::Value null() { return wmi::Value::null(); }

class RecordingUi final : public Ui {
public:
    std::vector<std::string> calls;     // "name(args)" for every call
    std::vector<std::string> messages;  // message box texts
    std::optional<Failure> failProgressUnload;

    void messageBox(std::string_view text, MessageStyle style, std::string_view title = {}) override;
    Status closeNameDialog() override;
    Status setPointer(int pointer) override;
    Status progressSetCaption(std::string_view caption) override;
    Status progressVisiblePicture(std::uint32_t back, std::uint32_t fore, bool bold) override;
    Status progressSetMessage(std::string_view message) override;
    Status progressShow() override;
    Status progressUpdate(std::int32_t percent) override;
    Status progressUnload() override;
    Status unloadMainWindow() override;
};


// An in-memory report and everything a collector needs around it.
struct ScanFixture {
    explicit ScanFixture(wmi::Service& service, Platform* platform = nullptr, bool hotfix = true,
                         bool software = true);
    RecordingUi ui;
    NativePlatform defaultPlatform{"/nonexistent-veltrix-folder", "/nonexistent-veltrix-drive/"};
    MemoryReportStream report{ui};
    PendingError pending;
    EnglishLocale locale;
    FixedCheckBoxes boxes;
    ScanContext scan;
    // The report so far, with CR LF turned into "\n" for readable expectations.
    std::string lines() const;
};

// Builds the lines a section table writes, for literal expectations.
std::string headLines(const std::string& title);
std::string rowLine(const std::string& label, const std::string& value);
inline const std::string kFootLine = "</table><br>\n";
inline const std::string kSpacerLine =
    "<tr><td width='150' bgcolor='#d9d9d9' class='td1'>&nbsp;</td><td width='550' bgcolor='#d9d9d9' "
    "class='td1'>&nbsp;</td></tr>\n";

}  // namespace veltrix::test
