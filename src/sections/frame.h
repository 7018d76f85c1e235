// The collector frame: continue-on-error steps around one section.
//
// Every step that fails is skipped; the scan's pending error keeps the last
// failure and the section reports it in its "Error" row. The pending error is
// emptied when the frame is made (collector start), by restart() and when the
// frame goes away (collector return), never by a writer call, so a failing
// property read in the first of three items still reaches the row after the
// last. No exception leaves a frame.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "sections/scan_context.h"
#include "wmi/service.h"

namespace veltrix {

inline constexpr std::string_view kNbsp = "&nbsp;";

class Frame {
public:
    enum class Mode {
        Collector,  // empties the pending error on entry and on return
        Lookup      // keeps its failures to itself: the caller's error survives
    };

    explicit Frame(ScanContext& scan, Mode mode = Mode::Collector);
    ~Frame();
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;

    ScanContext& scan() { return scan_; }

    // --- error state
    bool failed() const { return scan_.pending.any(); }
    const Failure& error() const { return scan_.pending.failure(); }
    void fail(Failure failure);
    // Empties the error state and drops the connection and result set.
    void restart();

    // --- data source
    bool connect(std::string_view moniker = wmi::kWmiMoniker);
    // ExecQuery with "WQL" and the flags 48 on the last connection.
    bool query(std::string_view wql);
    // ExecQuery with the query text only (the provider's default language and flags).
    bool queryWithDefaults(std::string_view wql);
    bool connectRegistry(std::string_view moniker = wmi::kRegistryMoniker);
    wmi::Registry* registry() { return registry_.get(); }

    // Walks the result set of the last query, forward only, once. The body may
    // return bool: false ends the walk. Walking when the query failed (or was
    // never made) fails again with the query's failure, and a failing step of
    // the walk ends it.
    template <class Body>
    void forEach(Body&& body) {
        if (!results_) {
            fail(queryFailure_);
            return;
        }
        while (true) {
            auto next = results_->next();
            if (!next) {
                fail(next.failure());
                return;
            }
            if (!*next) return;
            const wmi::Object& object = **next;
            if constexpr (std::is_same_v<std::invoke_result_t<Body, const wmi::Object&>, bool>) {
                if (!body(object)) return;
            } else {
                body(object);
            }
        }
    }

    // --- reading properties; a failed read is recorded and gives nullopt
    std::optional<wmi::Value> read(const wmi::Object& object, std::string_view name);
    // The value's text form (decimal separator from the locale).
    std::optional<std::string> readText(const wmi::Object& object, std::string_view name);
    std::optional<std::string> textOf(const wmi::Value& value);

    // --- guards; a guard whose own read fails counts as passed
    // Text, at least one character.
    bool textGuard(const wmi::Object& object, std::string_view name);
    // Text form at least one character long; Null fails, any number passes.
    bool lengthGuard(const wmi::Object& object, std::string_view name);
    // A 32-bit integer greater than 0.
    bool integerGuard(const wmi::Object& object, std::string_view name);
    // Conversion guard: false only for an empty text. Null cannot be converted,
    // so it takes the "present" branch.
    bool conversionGuard(const wmi::Object& object, std::string_view name);

    static bool isText(const wmi::Value& v) { return v.isText() && !v.asText().empty(); }

    // --- writing (writer failures go to their own message box)
    void head(std::string_view title);
    void row(std::string_view label, std::string_view value);
    void foot();
    void spacer();
    // Standard value row: the property's text made safe, then "&nbsp;". A
    // failed read writes nothing.
    void valueRow(std::string_view label, const wmi::Object& object, std::string_view property);
    // "Error" row with the last failure, when there is one.
    void errorRow();
    // Critical message box with the application's title.
    void messageBox(std::string_view text);

    // Lazy head: writes the head the first time it is called.
    void headOnce(std::string_view title);
    bool headWritten() const { return headWritten_; }
    // The end of a lazy-head section: nothing when no head and no error;
    // head, error row and foot when no head but an error; otherwise the error
    // row (if any) and the foot. `boxText`, when given, is shown before the
    // error row in the last case only.
    void finishLazy(std::string_view title, std::string_view boxText = {});

    static Failure noResultSet();

private:
    template <class Exec>
    bool runQuery(Exec&& exec);

    ScanContext& scan_;
    Mode mode_;
    Failure saved_;
    // Why there is no connection or result set: a step that needs one fails
    // with its predecessor's failure, so the "Error" row names the cause.
    Failure connectFailure_ = noResultSet();
    Failure queryFailure_ = noResultSet();
    std::unique_ptr<wmi::Connection> connection_;
    std::unique_ptr<wmi::ResultSet> results_;
    std::unique_ptr<wmi::Registry> registry_;
    bool headWritten_ = false;
};

}  // namespace veltrix
