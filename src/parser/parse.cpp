// The parser: the shared LALR(1) driver with a sink that builds the syntax
// tree bottom-up, and the wording of parse errors. A failed parse drops its
// partial trees through `Expr`'s iterative destructor.

#include "parser/driver.hpp"

namespace vexlor {
namespace lalr {

std::vector<std::string_view> expected_terminals(const Entry* stack, size_t size) {
  std::vector<std::string_view> expected;
  std::vector<State> pushed;
  for (size_t t = 0; t < TERMINAL_COUNT; ++t) {
    // The simulated stack is stack[0, depth) followed by `pushed`.
    size_t depth = size;
    pushed.clear();
    int16_t action;
    for (;;) {
      State top = pushed.empty() ? stack[depth - 1].state : pushed.back();
      action = grammar::ACTION[top][t];
      if (action >= 0) break;
      const grammar::RuleShape& rule = grammar::RULE_SHAPES[-action - 1];
      for (size_t n = rule.length; n > 0; --n) {
        if (!pushed.empty()) {
          pushed.pop_back();
        } else {
          --depth;
        }
      }
      State exposed = pushed.empty() ? stack[depth - 1].state : pushed.back();
      pushed.push_back(grammar::GOTO[exposed][static_cast<size_t>(rule.lhs)]);
    }
    if (action > 0) expected.push_back(terminal_display(static_cast<Terminal>(t)));
  }
  return expected;
}

}  // namespace lalr

namespace {

using lalr::Entry;
using lalr::Rule;

ExprKind binary_kind(Rule rule) {
  switch (rule) {
    case Rule::DisjunctionOr: return ExprKind::Or;
    case Rule::ConjunctionAnd: return ExprKind::And;
    case Rule::ComparisonEq: return ExprKind::Eq;
    case Rule::ComparisonNe: return ExprKind::Ne;
    case Rule::ComparisonLt: return ExprKind::Lt;
    case Rule::ComparisonLe: return ExprKind::Le;
    case Rule::ComparisonGt: return ExprKind::Gt;
    case Rule::ComparisonGe: return ExprKind::Ge;
    case Rule::AdditiveAdd: return ExprKind::Add;
    case Rule::AdditiveSub: return ExprKind::Sub;
    case Rule::MultiplicativeMul: return ExprKind::Mul;
    case Rule::MultiplicativeDiv: return ExprKind::Div;
    case Rule::MultiplicativeFloorDiv: return ExprKind::FloorDiv;
    case Rule::MultiplicativeMod: return ExprKind::Mod;
    default: return ExprKind::Pow;  // Rule::ExponentPow
  }
}

// Takes a sub-tree off the stack: the entry no longer owns it.
ExprPtr take(Entry& entry) {
  ExprPtr tree(entry.expr);
  entry.expr = nullptr;
  return tree;
}

std::string_view token_text(std::string_view text, const Entry& e) { return text.substr(e.start, e.end - e.start); }

// Builds the tree: each reduction makes its node from the popped entries.
class TreeSink {
 public:
  TreeSink() = default;
  TreeSink(const TreeSink&) = delete;
  TreeSink& operator=(const TreeSink&) = delete;
  ~TreeSink() {
    for (Expr* arg : args_) delete arg;
  }

  static constexpr bool WANTS_DEPTH = false;
  size_t on_shift(Terminal) { return 0; }

  bool reduce(Rule rule, Entry* v, Entry& result, std::string_view text) {
    switch (rule) {
      case Rule::ConditionalTernary: {
        ExprPtr condition = take(v[0]), then_branch = take(v[2]), else_branch = take(v[4]);
        result.expr = Expr::ternary(std::move(condition), std::move(then_branch), std::move(else_branch)).release();
        break;
      }
      case Rule::UnaryPos:
        result.expr = Expr::unary(ExprKind::Pos, take(v[1])).release();
        break;
      case Rule::UnaryNeg:
        result.expr = Expr::unary(ExprKind::Neg, take(v[1])).release();
        break;
      case Rule::UnaryNot:
        result.expr = Expr::unary(ExprKind::Not, take(v[1])).release();
        break;
      case Rule::PrimaryCall: {
        const size_t count = v[2].start;
        std::vector<ExprPtr> args;
        args.reserve(count);
        for (size_t i = 0; i < count; ++i) {
          args.emplace_back(args_.back());
          args_.pop_back();
        }
        result.expr = Expr::call(std::string(token_text(text, v[0])), std::move(args)).release();
        break;
      }
      case Rule::PrimaryCallEmpty:
        result.expr = Expr::call(std::string(token_text(text, v[0])), {}).release();
        break;
      case Rule::PrimaryParens:
        result.expr = v[1].expr;
        break;
      case Rule::VariableUuid: {
        UuidBytes bytes{};
        [[maybe_unused]] bool ok = try_parse_uuid(token_text(text, v[1]), bytes);
        assert(ok);  // the lexer admits only the hyphenated lower-case form
        result.expr = Expr::var(VarId::uuid(bytes)).release();
        break;
      }
      case Rule::VariableName:
        result.expr = Expr::var_name(token_text(text, v[0])).release();
        break;
      case Rule::LiteralNumber: {
        Decimal value;
        if (!lalr::literal_value(token_text(text, v[0]), value)) return false;
        result.expr = Expr::number(value).release();
        break;
      }
      case Rule::ArgsMore:
        // The arguments of calls being parsed wait here, last argument deepest
        // within a call (Args is right-recursive, so a list is completed from its end).
        args_.push_back(v[0].expr);
        v[0].expr = nullptr;
        result.start = v[2].start + 1;
        break;
      case Rule::ArgsOne:
        if (args_.capacity() == 0) args_.reserve(16);
        args_.push_back(v[0].expr);
        v[0].expr = nullptr;
        result.start = 1;
        break;
      default: {  // the two-operand rules
        ExprPtr left = take(v[0]), right = take(v[2]);
        result.expr = Expr::binary(binary_kind(rule), std::move(left), std::move(right)).release();
        break;
      }
    }
    return true;
  }

 private:
  std::vector<Expr*> args_;
};

}  // namespace

Expected<ExprPtr, ParseError> parse(std::string_view text) {
  TreeSink sink;
  lalr::Driver<TreeSink> driver(text, sink);
  auto root = driver.run();
  if (!root.ok()) return unexpected(std::move(root).error());
  return ExprPtr(root.value().expr);
}

std::string ParseError::to_string() const {
  std::string out;
  switch (kind) {
    case Kind::InvalidToken:
      return "Invalid token at " + std::to_string(location);
    case Kind::ActionError:
      return std::string(message);
    case Kind::UnrecognizedEof:
      out = "Unrecognized EOF found at " + std::to_string(location);
      break;
    case Kind::UnrecognizedToken:
      out = "Unrecognized token `" + token + "` found at " + std::to_string(location) + ":" + std::to_string(end);
      break;
  }
  if (!expected.empty()) {
    out += "\nExpected one of ";
    for (size_t i = 0; i < expected.size(); ++i) {
      if (i != 0) out += i + 1 == expected.size() ? " or " : ", ";
      out += expected[i];
    }
  }
  return out;
}

}  // namespace vexlor
