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

std::shared_ptr<const PropertyIndex> QueryCache::indexFor(
    const std::shared_ptr<const std::vector<ObjectPtr>>& objects, std::string_view property) {
    std::string key = std::to_string(reinterpret_cast<std::uintptr_t>(objects.get())) + ":" + lowerAscii(property);
    IndexEntry& entry = indexes_[std::move(key)];
    if (entry.index || ++entry.filters < 2) return entry.index;
    auto index = std::make_shared<PropertyIndex>();
    index->objects = objects;
    std::vector<std::string> keys;
    for (std::size_t k = 0; k < objects->size(); ++k) {
        // Read as the evaluator reads it: a failed read is Null.
        auto value = (*objects)[k]->get(property);
        if (!value) continue;
        wql::equalityKeys(*value, keys);
        for (std::string& valueKey : keys) {
            index->positions[std::move(valueKey)].push_back(static_cast<std::uint32_t>(k));
        }
    }
    entry.index = std::move(index);
    return entry.index;
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

    // Only the objects filed under one of `literal`'s keys can match; they
    // are visited in delivery order, each once.
    void useIndex(std::shared_ptr<const PropertyIndex> index, const Value& literal) {
        index_ = objects_->size();  // nothing else is looked at
        indexed_ = std::move(index);
        std::vector<std::string> keys;
        wql::equalityKeys(literal, keys);
        for (const std::string& key : keys) {
            auto found = indexed_->positions.find(key);
            if (found != indexed_->positions.end()) candidates_.push_back({&found->second, 0});
        }
    }

    Result<ObjectPtr> next() override {
        while (true) {
            std::size_t position = 0;
            if (indexed_) {
                if (!nextCandidate(position)) break;
            } else if (index_ < objects_->size()) {
                position = index_++;
            } else {
                break;
            }
            const ObjectPtr& object = (*objects_)[position];
            if (!wql::matches(*query_, *object)) continue;
            if (query_->properties.empty()) return object;
            return ObjectPtr(std::make_shared<ProjectedObject>(object, query_));
        }
        if (endFailure_) return *endFailure_;
        return ObjectPtr();
    }

private:
    struct Candidates {
        const std::vector<std::uint32_t>* positions;
        std::size_t next;
    };

    // The lowest position not yet visited among the keys' lists (a value
    // filed under two of the literal's keys is visited once).
    bool nextCandidate(std::size_t& position) {
        bool any = false;
        std::uint32_t lowest = 0;
        for (const Candidates& c : candidates_) {
            if (c.next < c.positions->size() && (!any || (*c.positions)[c.next] < lowest)) {
                lowest = (*c.positions)[c.next];
                any = true;
            }
        }
        if (!any) return false;
        for (Candidates& c : candidates_) {
            if (c.next < c.positions->size() && (*c.positions)[c.next] == lowest) ++c.next;
        }
        position = lowest;
        return true;
    }

    std::shared_ptr<const PropertyIndex> indexed_;
    std::vector<Candidates> candidates_;
    std::shared_ptr<const std::vector<ObjectPtr>> objects_;
    std::shared_ptr<const wql::Query> query_;
    std::optional<Failure> endFailure_;
    std::size_t index_ = 0;
};

}  // namespace

std::unique_ptr<ResultSet> filteredResults(std::shared_ptr<const std::vector<ObjectPtr>> objects,
                                           std::shared_ptr<const wql::Query> query,
                                           std::optional<Failure> endFailure, QueryCache* cache) {
    std::shared_ptr<const PropertyIndex> index;
    std::optional<wql::PropertyEquality> equality;
    if (cache && (equality = wql::propertyEquality(*query))) index = cache->indexFor(objects, equality->property);
    auto results = std::make_unique<FilteringResultSet>(std::move(objects), std::move(query), std::move(endFailure));
    if (index) results->useIndex(std::move(index), equality->literal);
    return results;
}

}  // namespace veltrix::wmi
