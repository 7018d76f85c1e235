// Answering WQL from objects held in memory: the parse-once cache of query
// texts and the result set that filters and projects, shared by every
// answerer that is not live WMI itself.
#pragma once

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

// Parsed queries by text. The driver-version lookup sends the same query once
// per multimedia device, so parsing once pays. Not for use by two threads.
class QueryCache {
public:
    Result<std::shared_ptr<const wql::Query>> get(std::string_view text);

private:
    std::unordered_map<std::string, std::shared_ptr<const wql::Query>> cache_;
};

// The objects that satisfy the query, in the order given; with a property
// list, each as a partial instance (the selected properties as the object
// holds them, every other one Null). When `endFailure` is set the walk ends
// with that failure instead of the end of the results, as a live walk that
// broke off does. `objects` is kept alive by the result set.
std::unique_ptr<ResultSet> filteredResults(std::shared_ptr<const std::vector<ObjectPtr>> objects,
                                           std::shared_ptr<const wql::Query> query,
                                           std::optional<Failure> endFailure = std::nullopt);

}  // namespace veltrix::wmi
