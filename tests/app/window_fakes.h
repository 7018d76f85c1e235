// Stand-ins for the ports the windows use: a data source answering the
// enclosure query, a platform that records files in memory, and a Ui that
// records every call instead of showing anything.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ui.h"
#include "core/platform.h"
#include "wmi/property_object.h"
#include "wmi/service.h"

namespace veltrix::testing {

class EnclosureService final : public wmi::Service {
public:
    std::vector<wmi::Value> serials;          // one enclosure per entry
    std::optional<Failure> connectFailure;
    std::optional<Failure> queryFailure;
    int failAtStep = -1;                      // next() fails at this index
    std::string lastQuery, lastLanguage, lastMoniker;
    std::int32_t lastFlags = 0;

    Result<std::unique_ptr<wmi::Connection>> connect(std::string_view moniker) override;
    Result<std::unique_ptr<wmi::Registry>> connectRegistry(std::string_view) override {
        return Failure{failure_code::kInvalidMoniker, "no registry here"};
    }
};

class MemoryPlatform final : public Platform {
public:
    std::string folder = "/opt/veltrix";
    bool refuseCreate = false;
    std::vector<std::string> created;
    std::vector<std::string> opened;

    std::string programFolder() const override { return folder; }
    std::string pathSeparator() const override { return "/"; }
    std::string systemDrive() const override { return "/"; }
    bool fileExists(const std::string& path) const override;
    Status createEmptyFile(const std::string& path) override;
    Result<std::unique_ptr<ReportStream>> openReport(const std::string& path, Messages& messages) override;
    Result<std::unique_ptr<LineReader>> openTextFile(const std::string&) override {
        return Failure{failure_code::kFileError, "File not found"};
    }
    Result<int> getAttributes(const std::string&) const override {
        return Failure{failure_code::kFileError, "File not found"};
    }
    Status setAttributes(const std::string&, int) override { return {}; }
    Status startProcess(const std::string&, const std::string&) override {
        return Failure{failure_code::kFileError, "File not found"};
    }
    Status openWithShell(const std::string& path) override {
        opened.push_back(path);
        return {};
    }
    DateTime now() const override { return {2024, 3, 5, 14, 7, 9}; }
};

struct RecordedMessage {
    std::string text;
    MessageStyle style;
    std::string title;
};

class RecordingUi : public Ui {
public:
    std::vector<RecordedMessage> messages;
    std::vector<std::string> calls;

    void messageBox(std::string_view text, MessageStyle style, std::string_view title) override {
        messages.push_back({std::string(text), style, std::string(title)});
    }
    Status closeNameDialog() override { return record("closeNameDialog"); }
    Status setPointer(int pointer) override { return record("pointer " + std::to_string(pointer)); }
    Status progressSetCaption(std::string_view c) override { return record("caption " + std::string(c)); }
    Status progressVisiblePicture(std::uint32_t, std::uint32_t, bool) override { return record("picture"); }
    Status progressSetMessage(std::string_view m) override { return record("message " + std::string(m)); }
    Status progressShow() override { return record("show"); }
    Status progressUpdate(std::int32_t p) override { return record("update " + std::to_string(p)); }
    Status progressUnload() override { return record("unload progress"); }
    Status unloadMainWindow() override { return record("unload main"); }

private:
    Status record(std::string call) {
        calls.push_back(std::move(call));
        return {};
    }
};

}  // namespace veltrix::testing
