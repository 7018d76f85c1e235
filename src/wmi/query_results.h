// Answering WQL from objects held in memory: the parse-once cache of query
// texts and the result set that filters and projects, shared by every
// answerer that is not live WMI itself.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/result.h"
#include "wmi/service.h"
#include "wmi/wql/query.h"

namespace veltrix::wmi {

// The objects of one class filed by the keys of one property's value
// (wql::equalityKeys), each key's objects in delivery order.
struct PropertyIndex {
    std::shared_ptr<const std::vector<ObjectPtr>> objects;  // kept alive while indexed
    std::unordered_map<std::string, std::vector<std::uint32_t>> positions;
};

// Parsed queries by text, and the indexes that answer equality filters. A
// lookup per device (the MAC address of each adapter by its name) sends one
// query per device, so parsing once pays; and filtering all objects for each
// would make the lookups grow with the square of the devices. Not for use by
// two threads.
class QueryCache {
public:
    Result<std::shared_ptr<const wql::Query>> get(std::string_view text);

    // The index of `property` over `objects`, built when a second equality
    // filter on it arrives (a filter sent once is cheaper answered by
    // looking at each object); null until then. `objects` must stay where
    // it is while the cache lives, which the index's share in it ensures.
    std::shared_ptr<const PropertyIndex> indexFor(const std::shared_ptr<const std::vector<ObjectPtr>>& objects,
                                                  std::string_view property);

private:
    std::unordered_map<std::string, std::shared_ptr<const wql::Query>> cache_;
    struct IndexEntry {
        int filters = 0;
        std::shared_ptr<const PropertyIndex> index;
    };
    std::unordered_map<std::string, IndexEntry> indexes_;  // by objects' address and property
};

// The objects that satisfy the query, in the order given; with a property
// list, each as a partial instance (the selected properties as the object
// holds them, every other one Null). When `endFailure` is set the walk ends
// with that failure instead of the end of the results, as a live walk that
// broke off does. `objects` is kept alive by the result set. With `cache`, a
// filter for equality on one property is answered from its index once there
// is one: the same objects in the same order, only those that can match looked at.
std::unique_ptr<ResultSet> filteredResults(std::shared_ptr<const std::vector<ObjectPtr>> objects,
                                           std::shared_ptr<const wql::Query> query,
                                           std::optional<Failure> endFailure = std::nullopt,
                                           QueryCache* cache = nullptr);

}  // namespace veltrix::wmi
