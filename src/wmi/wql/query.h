// WQL: SELECT * | prop, ... FROM class [WHERE expr]. One parser and evaluator
// for every provider that is not live WMI.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "wmi/service.h"

namespace veltrix::wmi::wql {

struct Expr;  // defined in the evaluator

struct Query {
    std::vector<std::string> properties;  // empty means "*"
    std::string className;
    std::shared_ptr<const Expr> where;     // nullptr when there is no WHERE
};

// A syntax error is a failure naming the 1-based position and what was expected.
Result<Query> parse(std::string_view text);

// True when the object satisfies the query's WHERE clause (or there is none).
// A property the object lacks reads as Null.
bool matches(const Query& query, const Object& object);

// A WHERE clause that is one comparison for equality between a property and
// a literal (either way round), which an index of that property can answer.
struct PropertyEquality {
    std::string property;
    Value literal;
};
std::optional<PropertyEquality> propertyEquality(const Query& query);

// The keys under which `value` is filed in such an index: two values the
// WHERE clause finds equal always share a key (the converse need not hold,
// so a candidate found by key is still checked with matches()). Null and
// arrays, which equal nothing, have none.
void equalityKeys(const Value& value, std::vector<std::string>& out);

}  // namespace veltrix::wmi::wql
