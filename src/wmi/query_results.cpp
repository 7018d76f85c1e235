#include "wmi/query_results.h"

#include "core/ascii.h"

namespace veltrix::wmi {

Result<std::shared_ptr<const wql::Query>> QueryCache::get(std::string_view text) {
    auto it = cache_.find(std::string(text));
    if (it != cache_.end()) return it->second;
    auto parsed = wql::parse(text);
    if (!parsed) return parsed.failure();
    auto query = std::make_shared<const wql::Query>(std::move(*parsed));
    cache_.emplace(std::string(text), query);
    return query;
}

namespace {

class ProjectedObject final : public Object {
public:
    ProjectedObject(ObjectPtr inner, std::shared_ptr<const wql::Query> query)
        : inner_(std::move(inner)), query_(std::move(query)) {}

    Result<Value> get(std::string_view name) const override {
        auto value = inner_->get(name);
        if (!value) return value;
        for (const std::string& selected : query_->properties) {
            if (equalsIgnoringCase(selected, name)) return value;
        }
        return Value::null();
    }
    std::vector<std::string> propertyNames() const override { return inner_->propertyNames(); }

private:
    ObjectPtr inner_;
    std::shared_ptr<const wql::Query> query_;
};

class FilteringResultSet final : public ResultSet {
public:
    FilteringResultSet(std::shared_ptr<const std::vector<ObjectPtr>> objects, std::shared_ptr<const wql::Query> query,
                       std::optional<Failure> endFailure)
        : objects_(std::move(objects)), query_(std::move(query)), endFailure_(std::move(endFailure)) {}

    Result<ObjectPtr> next() override {
        while (index_ < objects_->size()) {
            const ObjectPtr& object = (*objects_)[index_++];
            if (!wql::matches(*query_, *object)) continue;
            if (query_->properties.empty()) return object;
            return ObjectPtr(std::make_shared<ProjectedObject>(object, query_));
        }
        if (endFailure_) return *endFailure_;
        return ObjectPtr();
    }

private:
    std::shared_ptr<const std::vector<ObjectPtr>> objects_;
    std::shared_ptr<const wql::Query> query_;
    std::optional<Failure> endFailure_;
    std::size_t index_ = 0;
};

}  // namespace

std::unique_ptr<ResultSet> filteredResults(std::shared_ptr<const std::vector<ObjectPtr>> objects,
                                           std::shared_ptr<const wql::Query> query,
                                           std::optional<Failure> endFailure) {
    return std::make_unique<FilteringResultSet>(std::move(objects), std::move(query), std::move(endFailure));
}

}  // namespace veltrix::wmi
