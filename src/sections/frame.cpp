#include "sections/frame.h"

#include <algorithm>

#include "report/html_writer.h"
#include "report/text.h"

namespace veltrix {

Frame::Frame(ScanContext& scan, Mode mode) : scan_(scan), mode_(mode) {
    if (mode_ == Mode::Lookup) saved_ = scan_.pending.failure();
    scan_.pending.clear();
}

Frame::~Frame() {
    // Release in the order a collector would: result set, then the service.
    results_.reset();
    connection_.reset();
    registry_.reset();
    if (mode_ == Mode::Lookup) {
        scan_.pending.set(saved_);
    } else {
        scan_.pending.clear();
    }
}

void Frame::fail(Failure failure) {
    if (failure.number <= 0) failure.number = failure_code::kInvalidArgument;
    scan_.pending.set(std::move(failure));
}

void Frame::restart() {
    connectFailure_ = queryFailure_ = noResultSet();
    results_.reset();
    connection_.reset();
    registry_.reset();
    scan_.pending.clear();
}

Failure Frame::noResultSet() {
    return Failure{failure_code::kObjectRequired, "Object required"};
}

bool Frame::connect(std::string_view moniker) {
    results_.reset();
    connection_.reset();
    queryFailure_ = noResultSet();
    auto connected = scan_.wmi.connect(moniker);
    if (!connected) {
        connectFailure_ = connected.failure();
        fail(connectFailure_);
        return false;
    }
    connection_ = std::move(*connected);
    return true;
}

template <class Exec>
bool Frame::runQuery(Exec&& exec) {
    results_.reset();
    if (!connection_) {
        queryFailure_ = connectFailure_;
        fail(queryFailure_);
        return false;
    }
    auto answered = exec(*connection_);
    if (!answered) {
        queryFailure_ = answered.failure();
        fail(queryFailure_);
        return false;
    }
    results_ = std::move(*answered);
    return true;
}

bool Frame::query(std::string_view wql) {
    return runQuery([&](wmi::Connection& c) { return c.execQuery(wql, "WQL", wmi::kQueryFlags); });
}

bool Frame::queryWithDefaults(std::string_view wql) {
    return runQuery([&](wmi::Connection& c) { return c.execQuery(wql); });
}

bool Frame::connectRegistry(std::string_view moniker) {
    registry_.reset();
    auto connected = scan_.wmi.connectRegistry(moniker);
    if (!connected) {
        fail(connected.failure());
        return false;
    }
    registry_ = std::move(*connected);
    return true;
}

std::optional<wmi::Value> Frame::read(const wmi::Object& object, std::string_view name) {
    auto value = object.get(name);
    if (!value) {
        fail(value.failure());
        return std::nullopt;
    }
    return std::move(*value);
}

std::optional<std::string> Frame::textOf(const wmi::Value& value) {
    auto text = value.toText(scan_.locale.decimalSeparator());
    if (!text) {
        fail(text.failure());
        return std::nullopt;
    }
    return std::move(*text);
}

std::optional<std::string> Frame::readText(const wmi::Object& object, std::string_view name) {
    auto value = read(object, name);
    if (!value) return std::nullopt;
    return textOf(*value);
}

bool Frame::textGuard(const wmi::Object& object, std::string_view name) {
    auto value = read(object, name);
    return !value || isText(*value);
}

bool Frame::lengthGuard(const wmi::Object& object, std::string_view name) {
    auto value = read(object, name);
    if (!value) return true;
    if (value->isNull()) return false;
    auto text = textOf(*value);
    return !text || !text->empty();
}

bool Frame::integerGuard(const wmi::Object& object, std::string_view name) {
    auto value = read(object, name);
    return !value || (value->isInt32() && value->asInt32() > 0);
}

bool Frame::conversionGuard(const wmi::Object& object, std::string_view name) {
    auto value = read(object, name);
    if (!value || value->isNull()) return true;
    auto text = textOf(*value);
    return !text || !text->empty();
}

void Frame::head(std::string_view title) {
    scan_.currentSection = std::string(title);
    WriteTableHead(title, scan_.report);
    headWritten_ = true;
}

void Frame::row(std::string_view label, std::string_view value) { WriteRow(label, value, scan_.report); }

void Frame::foot() { WriteTableFoot(scan_.report); }

void Frame::spacer() { row(kNbsp, kNbsp); }

void Frame::valueRow(std::string_view label, const wmi::Object& object, std::string_view property) {
    auto text = readText(object, property);
    if (!text) return;
    row(label, EscapeMarkup(*text) + std::string(kNbsp));
}

void Frame::errorRow() {
    // A description comes from the data source (a provider, a snapshot), so
    // it is machine text like any value.
    if (!failed()) return;
    row("Error", EscapeMarkup(error().description) + std::string(kNbsp));
    auto& named = scan_.sectionsWithErrors;
    if (std::find(named.begin(), named.end(), scan_.currentSection) == named.end()) {
        named.push_back(scan_.currentSection);
    }
}

void Frame::messageBox(std::string_view text) { scan_.messages().messageBox(text, MessageStyle::Critical); }

void Frame::headOnce(std::string_view title) {
    if (!headWritten_) head(title);
}

void Frame::finishLazy(std::string_view title, std::string_view boxText) {
    if (!headWritten_) {
        if (!failed()) return;
        head(title);
        errorRow();
        foot();
        return;
    }
    if (failed()) {
        if (!boxText.empty()) messageBox(boxText);
        errorRow();
    }
    foot();
}

}  // namespace veltrix
