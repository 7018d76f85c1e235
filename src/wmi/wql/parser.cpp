#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <limits>

#include "core/ascii.h"
#include "wmi/wql/expr.h"
#include "wmi/wql/lexer.h"
#include "wmi/wql/query.h"

namespace veltrix::wmi::wql {

namespace {

bool sameWord(std::string_view a, std::string_view b) { return equalsIgnoringCase(a, b); }

bool isReserved(std::string_view word) {
    for (std::string_view k : {"SELECT", "FROM", "WHERE", "AND", "OR", "NOT", "LIKE", "IS", "NULL", "TRUE", "FALSE"}) {
        if (sameWord(word, k)) return true;
    }
    return false;
}

// A number literal: whole numbers that fit stay Int32, larger ones keep their
// digits as text (so 64-bit sizes compare exactly), fractions become reals.
Value numberLiteral(const std::string& digits, bool negative) {
    std::string text = negative ? "-" + digits : digits;
    if (digits.find_first_of(".eE") == std::string::npos) {
        errno = 0;
        long long n = std::strtoll(text.c_str(), nullptr, 10);
        if (errno == 0 && n >= std::numeric_limits<std::int32_t>::min() &&
            n <= std::numeric_limits<std::int32_t>::max()) {
            return Value::int32(static_cast<std::int32_t>(n));
        }
        return Value::text(text);
    }
    return Value::real64(std::strtod(text.c_str(), nullptr));
}

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

    Result<Query> query() {
        Query q;
        if (!keyword("SELECT")) return expected("SELECT");
        if (symbol("*")) {
            // "*": every property.
        } else {
            do {
                if (!name()) return expected("a property name or *");
                q.properties.push_back(previous().text);
            } while (symbol(","));
        }
        if (!keyword("FROM")) return expected(q.properties.empty() ? "FROM" : "FROM or ,");
        if (!name()) return expected("a class name");
        q.className = previous().text;
        if (keyword("WHERE")) {
            auto where = orExpr();
            if (!where) return where.failure();
            q.where = std::move(*where);
        }
        if (peek().kind != TokenKind::End) return expected(q.where ? "AND, OR or the end of the query" : "WHERE or the end of the query");
        return q;
    }

private:
    using Node = std::shared_ptr<const Expr>;

    Result<Node> orExpr() {
        auto left = andExpr();
        if (!left) return left;
        while (keyword("OR")) {
            std::size_t position = previous().position;
            auto right = andExpr();
            if (!right) return right;
            left = binary(Op::Or, *left, *right, position);
            if (!left) return left;
        }
        return left;
    }

    Result<Node> andExpr() {
        auto left = notExpr();
        if (!left) return left;
        while (keyword("AND")) {
            std::size_t position = previous().position;
            auto right = notExpr();
            if (!right) return right;
            left = binary(Op::And, *left, *right, position);
            if (!left) return left;
        }
        return left;
    }

    // NOT and "(" recurse; their nesting is bounded before each descent, so
    // the parser's own stack stays within the tree's limit too.
    Result<Node> notExpr() {
        if (keyword("NOT")) {
            std::size_t position = previous().position;
            if (++nesting_ >= kMaxExpressionDepth) return tooDeep(position);
            auto inner = notExpr();
            --nesting_;
            if (!inner) return inner;
            auto e = std::make_shared<Expr>();
            e->op = Op::Not;
            e->depth = (*inner)->depth + 1;
            if (e->depth > kMaxExpressionDepth) return tooDeep(position);
            e->left = *inner;
            return Node(e);
        }
        if (symbol("(")) {
            std::size_t position = previous().position;
            if (++nesting_ >= kMaxExpressionDepth) return tooDeep(position);
            auto inner = orExpr();
            --nesting_;
            if (!inner) return inner;
            if (!symbol(")")) return expected("AND, OR or )");
            return inner;
        }
        return predicate();
    }

    Result<Node> predicate() {
        auto lhs = operand();
        if (!lhs) return lhs.failure();
        auto e = std::make_shared<Expr>();
        e->lhs = std::move(*lhs);
        if (keyword("IS")) {
            e->op = Op::IsNull;
            e->negated = keyword("NOT");
            if (!keyword("NULL")) return expected(e->negated ? "NULL" : "NULL or NOT");
            return Node(e);
        }
        if (keyword("NOT")) {
            if (!keyword("LIKE")) return expected("LIKE");
            e->negated = true;
            e->op = Op::Like;
        } else if (keyword("LIKE")) {
            e->op = Op::Like;
        } else {
            static const std::pair<std::string_view, Op> kOps[] = {
                {"=", Op::Equal},      {"<>", Op::NotEqual}, {"!=", Op::NotEqual},    {"<", Op::Less},
                {">", Op::Greater},    {"<=", Op::LessEqual}, {">=", Op::GreaterEqual}};
            bool found = false;
            for (const auto& [text, op] : kOps) {
                if (symbol(text)) {
                    e->op = op;
                    found = true;
                    break;
                }
            }
            if (!found) return expected("a comparison operator, LIKE or IS");
        }
        std::size_t rhsPosition = peek().position;
        auto rhs = operand();
        if (!rhs) return rhs.failure();
        e->rhs = std::move(*rhs);
        if (e->op == Op::Like && !e->rhs.isProperty && e->rhs.literal.isText() &&
            !likePatternValid(e->rhs.literal.asText())) {
            return syntaxError(rhsPosition, "a LIKE pattern whose [ is closed by ]", "'" + e->rhs.literal.asText() + "'");
        }
        return Node(e);
    }

    Result<Operand> operand() {
        Operand o;
        const Token& t = peek();
        if (t.kind == TokenKind::String) {
            o.literal = Value::text(t.text);
        } else if (t.kind == TokenKind::Number) {
            o.literal = numberLiteral(t.text, false);
        } else if (t.kind == TokenKind::Symbol && t.text == "-" && tokens_[index_ + 1].kind == TokenKind::Number) {
            ++index_;
            o.literal = numberLiteral(peek().text, true);
        } else if (t.kind == TokenKind::Identifier && sameWord(t.text, "TRUE")) {
            o.literal = Value::boolean(true);
        } else if (t.kind == TokenKind::Identifier && sameWord(t.text, "FALSE")) {
            o.literal = Value::boolean(false);
        } else if (t.kind == TokenKind::Identifier && sameWord(t.text, "NULL")) {
            o.literal = Value::null();
        } else if (t.kind == TokenKind::Identifier && !isReserved(t.text)) {
            o.isProperty = true;
            o.property = t.text;
        } else {
            return expected("a property name or a literal");
        }
        ++index_;
        return o;
    }

    // A chain of ORs or ANDs grows the tree one level per operator.
    static Result<Node> binary(Op op, Node left, Node right, std::size_t position) {
        std::size_t depth = std::max(left->depth, right->depth) + 1;
        if (depth > kMaxExpressionDepth) return tooDeep(position);
        auto e = std::make_shared<Expr>();
        e->op = op;
        e->depth = depth;
        e->left = std::move(left);
        e->right = std::move(right);
        return Node(e);
    }

    static Failure tooDeep(std::size_t position) {
        return Failure{failure_code::kInvalidQuery,
                       "Invalid query: at position " + std::to_string(position) +
                           " the condition nests deeper than " + std::to_string(kMaxExpressionDepth) +
                           " levels"};
    }

    const Token& peek() const { return tokens_[index_]; }
    const Token& previous() const { return tokens_[index_ - 1]; }

    bool keyword(std::string_view word) {
        if (peek().kind == TokenKind::Identifier && sameWord(peek().text, word)) {
            ++index_;
            return true;
        }
        return false;
    }

    bool symbol(std::string_view text) {
        if (peek().kind == TokenKind::Symbol && peek().text == text) {
            ++index_;
            return true;
        }
        return false;
    }

    bool name() {
        if (peek().kind == TokenKind::Identifier && !isReserved(peek().text)) {
            ++index_;
            return true;
        }
        return false;
    }

    Failure expected(std::string_view what) const {
        const Token& t = peek();
        std::string found;
        switch (t.kind) {
            case TokenKind::End: found = "the end of the query"; break;
            case TokenKind::String: found = "'" + t.text + "'"; break;
            default: found = "'" + t.text + "'"; break;
        }
        return syntaxError(t.position, what, found);
    }

    std::vector<Token> tokens_;
    std::size_t index_ = 0;
    std::size_t nesting_ = 0;  // NOTs and open parentheses around the current point
};

}  // namespace

Result<Query> parse(std::string_view text) {
    auto tokens = tokenize(text);
    if (!tokens) return tokens.failure();
    return Parser(std::move(*tokens)).query();
}

}  // namespace veltrix::wmi::wql
