// The parse driver: runs the generated LALR(1) automaton over the lexer's
// tokens, builds the tree bottom-up and words the errors.
//
// The state and value stacks are heap vectors, so nesting depth costs memory,
// never native stack; a failed parse drops its partial trees through `Expr`'s
// iterative destructor.

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstdint>

#include "parser/parser.hpp"

namespace vexlor {
namespace grammar {

inline constexpr int16_t ACCEPT = INT16_MAX;
#include "parser/grammar_tables.inc"

static_assert(static_cast<size_t>(TERMINAL_COUNT) == vexlor::TERMINAL_COUNT);
static_assert(STATE_COUNT <= 255, "states are kept as bytes");

constexpr int EOF_COLUMN = TERMINAL_COUNT;

}  // namespace grammar

namespace {

using grammar::Rule;
using State = uint8_t;

// A symbol's value on the stack: a token's position (terminals), a sub-tree,
// or an argument list under construction (kept in reverse order).
struct Value {
  size_t start = 0;
  size_t end = 0;
  ExprPtr expr;
  std::unique_ptr<std::vector<ExprPtr>> args;
};

std::vector<std::string_view> expected_terminals(const std::vector<State>& states) {
  std::vector<std::string_view> expected;
  std::vector<State> pushed;
  for (size_t t = 0; t < TERMINAL_COUNT; ++t) {
    // The simulated stack is states[0, depth) followed by `pushed`.
    size_t depth = states.size();
    pushed.clear();
    int16_t action;
    for (;;) {
      State top = pushed.empty() ? states[depth - 1] : pushed.back();
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
      State exposed = pushed.empty() ? states[depth - 1] : pushed.back();
      pushed.push_back(grammar::GOTO[exposed][static_cast<size_t>(rule.lhs)]);
    }
    if (action > 0) expected.push_back(terminal_display(static_cast<Terminal>(t)));
  }
  return expected;
}

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

class Driver {
 public:
  static constexpr size_t INITIAL_DEPTH = 32;  // enough for typical expressions

  explicit Driver(std::string_view text) : text_(text), lexer_(text) {
    states_.reserve(INITIAL_DEPTH);
    values_.reserve(INITIAL_DEPTH);
  }

  Expected<ExprPtr, ParseError> run();

 private:
  std::string_view token_text(const Value& v) const { return text_.substr(v.start, v.end - v.start); }
  // Applies `rule` to the top of the stacks; false if its action fails.
  bool reduce(Rule rule);
  ParseError error_here(ParseError::Kind kind) const {
    ParseError error;
    error.kind = kind;
    error.expected = expected_terminals(states_);
    return error;
  }

  std::string_view text_;
  Lexer lexer_;
  std::vector<State> states_{0};  // starts in state 0
  std::vector<Value> values_;  // values_[i] belongs to states_[i + 1]
};

bool Driver::reduce(Rule rule) {
  const grammar::RuleShape& shape = grammar::RULE_SHAPES[static_cast<size_t>(rule)];
  Value* v = values_.data() + (values_.size() - shape.length);
  Value result;
  switch (rule) {
    case Rule::ExprDisjunction:
    case Rule::DisjunctionConjunction:
    case Rule::ConjunctionConditional:
    case Rule::ConditionalComparison:
    case Rule::ComparisonAdditive:
    case Rule::AdditiveMultiplicative:
    case Rule::MultiplicativeExponent:
    case Rule::ExponentUnary:
    case Rule::UnaryPrimary:
    case Rule::PrimaryLiteral:
    case Rule::PrimaryVariable:
      // A single child passes through: only the state changes.
      states_.pop_back();
      states_.push_back(grammar::GOTO[states_.back()][static_cast<size_t>(shape.lhs)]);
      return true;
    case Rule::ConditionalTernary:
      result.expr = Expr::ternary(std::move(v[0].expr), std::move(v[2].expr), std::move(v[4].expr));
      break;
    case Rule::UnaryPos:
      result.expr = Expr::unary(ExprKind::Pos, std::move(v[1].expr));
      break;
    case Rule::UnaryNeg:
      result.expr = Expr::unary(ExprKind::Neg, std::move(v[1].expr));
      break;
    case Rule::UnaryNot:
      result.expr = Expr::unary(ExprKind::Not, std::move(v[1].expr));
      break;
    case Rule::PrimaryCall: {
      std::vector<ExprPtr> args = std::move(*v[2].args);
      std::reverse(args.begin(), args.end());
      result.expr = Expr::call(std::string(token_text(v[0])), std::move(args));
      break;
    }
    case Rule::PrimaryCallEmpty:
      result.expr = Expr::call(std::string(token_text(v[0])), {});
      break;
    case Rule::PrimaryParens:
      result.expr = std::move(v[1].expr);
      break;
    case Rule::VariableUuid: {
      UuidBytes bytes{};
      [[maybe_unused]] bool ok = try_parse_uuid(token_text(v[1]), bytes);
      assert(ok);  // the lexer admits only the hyphenated lower-case form
      result.expr = Expr::var(VarId::uuid(bytes));
      break;
    }
    case Rule::VariableName:
      result.expr = Expr::var(VarId::name(token_text(v[0])));
      break;
    case Rule::LiteralNumber: {
      std::string_view literal = token_text(v[0]);
      auto value = Decimal::from_str(literal);
      if (!value) value = Decimal::from_scientific(literal);
      if (!value) return false;
      result.expr = Expr::number(*value);
      break;
    }
    case Rule::ArgsMore:
      result.args = std::move(v[2].args);
      result.args->push_back(std::move(v[0].expr));
      break;
    case Rule::ArgsOne:
      result.args = std::make_unique<std::vector<ExprPtr>>();
      result.args->push_back(std::move(v[0].expr));
      break;
    default:  // the two-operand rules
      result.expr = Expr::binary(binary_kind(rule), std::move(v[0].expr), std::move(v[2].expr));
      break;
  }
  values_.resize(values_.size() - shape.length);
  states_.resize(states_.size() - shape.length);
  states_.push_back(grammar::GOTO[states_.back()][static_cast<size_t>(shape.lhs)]);
  values_.push_back(std::move(result));
  return true;
}

Expected<ExprPtr, ParseError> Driver::run() {
  size_t last_location = 0;
  for (;;) {
    LexStep step = lexer_.next();
    if (step.kind == LexStep::Kind::InvalidToken) {
      ParseError error;
      error.kind = ParseError::Kind::InvalidToken;
      error.location = step.offset;
      return unexpected(std::move(error));
    }
    bool at_end = step.kind == LexStep::Kind::EndOfInput;
    const Token& token = step.token;
    if (!at_end) last_location = token.end;
    int column = at_end ? grammar::EOF_COLUMN : static_cast<int>(token.terminal);
    for (;;) {
      int16_t action = grammar::ACTION[states_.back()][column];
      if (action == grammar::ACCEPT) {
        return std::move(values_.back().expr);
      }
      if (action > 0) {
        states_.push_back(static_cast<State>(action - 1));
        Value shifted;
        shifted.start = token.start;
        shifted.end = token.end;
        values_.push_back(std::move(shifted));
        break;
      }
      if (action < 0) {
        if (!reduce(static_cast<Rule>(-action - 1))) {
          ParseError error;
          error.kind = ParseError::Kind::ActionError;
          error.message = INVALID_DECIMAL_LITERAL;
          return unexpected(std::move(error));
        }
        continue;
      }
      if (at_end) {
        ParseError error = error_here(ParseError::Kind::UnrecognizedEof);
        error.location = last_location;
        return unexpected(std::move(error));
      }
      ParseError error = error_here(ParseError::Kind::UnrecognizedToken);
      error.location = token.start;
      error.end = token.end;
      error.token = std::string(token.text);
      return unexpected(std::move(error));
    }
  }
}

}  // namespace

Expected<ExprPtr, ParseError> parse(std::string_view text) { return Driver(text).run(); }

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
