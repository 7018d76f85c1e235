#include "app/window_fakes.h"
#include "report/report_stream.h"

#include <algorithm>

namespace veltrix::testing {

namespace {

class ListResultSet final : public wmi::ResultSet {
public:
    ListResultSet(std::vector<wmi::ObjectPtr> objects, int failAt) : objects_(std::move(objects)), failAt_(failAt) {}
    Result<wmi::ObjectPtr> next() override {
        if (static_cast<int>(index_) == failAt_) return Failure{failure_code::kNotFound, "Not found"};
        if (index_ >= objects_.size()) return wmi::ObjectPtr{};
        return objects_[index_++];
    }

private:
    std::vector<wmi::ObjectPtr> objects_;
    std::size_t index_ = 0;
    int failAt_;
};

class EnclosureConnection final : public wmi::Connection {
public:
    explicit EnclosureConnection(EnclosureService& owner) : owner_(owner) {}
    Result<std::unique_ptr<wmi::ResultSet>> execQuery(std::string_view wql, std::string_view language,
                                                      std::int32_t flags) override {
        owner_.lastQuery = wql;
        owner_.lastLanguage = language;
        owner_.lastFlags = flags;
        if (owner_.queryFailure) return *owner_.queryFailure;
        std::vector<wmi::ObjectPtr> objects;
        for (const auto& serial : owner_.serials)
            objects.push_back(std::make_shared<wmi::PropertyObject>(
                std::vector<std::pair<std::string, wmi::Value>>{{"SerialNumber", serial}}));
        return std::unique_ptr<wmi::ResultSet>(new ListResultSet(std::move(objects), owner_.failAtStep));
    }

private:
    EnclosureService& owner_;
};

}  // namespace

Result<std::unique_ptr<wmi::Connection>> EnclosureService::connect(std::string_view moniker) {
    lastMoniker = moniker;
    if (connectFailure) return *connectFailure;
    return std::unique_ptr<wmi::Connection>(new EnclosureConnection(*this));
}

bool MemoryPlatform::fileExists(const std::string& path) const {
    return std::find(created.begin(), created.end(), path) != created.end();
}

Status MemoryPlatform::createEmptyFile(const std::string& path) {
    if (refuseCreate) return Failure{failure_code::kFileError, "Permission denied"};
    created.push_back(path);
    return {};
}

Result<std::unique_ptr<ReportStream>> MemoryPlatform::openReport(const std::string& path, Messages& messages) {
    if (!fileExists(path)) return Failure{failure_code::kFileError, "File not found"};
    return std::unique_ptr<ReportStream>(new MemoryReportStream(messages));
}

}  // namespace veltrix::testing
