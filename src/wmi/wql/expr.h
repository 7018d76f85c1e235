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
    std::size_t depth = 1;                // levels of the tree below and including this node
};

// The deepest expression tree the parser builds. The evaluator walks the tree
// recursively and the tree is freed recursively, so a hostile query with
// thousands of NOTs, parentheses or ORs must be refused before it can
// exhaust the stack (Windows threads get 1 MB).
inline constexpr std::size_t kMaxExpressionDepth = 256;

// LIKE with % (any run), _ (one character), [set], [a-c] and [^set], without
// regard to letter case. An unterminated [ stands for itself.
bool likeMatches(std::string_view text, std::string_view pattern);

// Whether a pattern's brackets are all closed (checked when the query is parsed).
bool likePatternValid(std::string_view pattern);

}  // namespace veltrix::wmi::wql
