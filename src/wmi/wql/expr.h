// The parsed WHERE clause: a small tree the evaluator walks per object.
#pragma once

#include <memory>
#include <string>

#include "wmi/value.h"
#include "wmi/wql/query.h"

namespace veltrix::wmi::wql {

// One side of a comparison: a property of the object or a literal.
struct Operand {
    bool isProperty = false;
    std::string property;
    Value literal;
};

enum class Op { Or, And, Not, Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual, Like, IsNull };

struct Expr {
    Op op = Op::Equal;
    bool negated = false;                 // NOT LIKE, IS NOT NULL
    std::shared_ptr<const Expr> left;     // Or, And, Not
    std::shared_ptr<const Expr> right;    // Or, And
    Operand lhs;                          // comparisons, Like, IsNull
    Operand rhs;                          // comparisons, Like (the pattern)
};

// LIKE with % (any run), _ (one character), [set], [a-c] and [^set], without
// regard to letter case. An unterminated [ stands for itself.
bool likeMatches(std::string_view text, std::string_view pattern);

// Whether a pattern's brackets are all closed (checked when the query is parsed).
bool likePatternValid(std::string_view pattern);

}  // namespace veltrix::wmi::wql
