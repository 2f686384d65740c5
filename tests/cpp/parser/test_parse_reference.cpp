// The parser against a plain LALR(1) driver: one action per step straight from
// the generated tables, values as rendered trees. Random texts, mostly valid
// expressions with some tokens dropped, doubled or replaced, must give the same
// tree or the same error (kind, positions, expected terminals) from both.

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "parser/parser.hpp"

namespace vexlor {
namespace reference {
inline constexpr int16_t ACCEPT = INT16_MAX;
#include "parser/grammar_tables.inc"
}  // namespace reference

namespace {

using reference::Rule;

struct Outcome {
  std::string tree;  // describe() of the tree, or empty on failure
  std::string error;  // ParseError::to_string(), or empty on success
  size_t location = 0;
  size_t end = 0;
};

std::string node(std::string_view kind, const std::vector<std::string>& parts) {
  std::string out(kind);
  out += '(';
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i != 0) out += ", ";
    out += parts[i];
  }
  return out + ')';
}

std::string_view binary_name(Rule rule) {
  switch (rule) {
    case Rule::DisjunctionOr: return "Or";
    case Rule::ConjunctionAnd: return "And";
    case Rule::ComparisonEq: return "Eq";
    case Rule::ComparisonNe: return "Ne";
    case Rule::ComparisonLt: return "Lt";
    case Rule::ComparisonLe: return "Le";
    case Rule::ComparisonGt: return "Gt";
    case Rule::ComparisonGe: return "Ge";
    case Rule::AdditiveAdd: return "Add";
    case Rule::AdditiveSub: return "Sub";
    case Rule::MultiplicativeMul: return "Mul";
    case Rule::MultiplicativeDiv: return "Div";
    case Rule::MultiplicativeFloorDiv: return "FloorDiv";
    case Rule::MultiplicativeMod: return "Mod";
    case Rule::ExponentPow: return "Pow";
    default: return "";
  }
}

std::vector<std::string_view> expected_after(const std::vector<int>& states) {
  std::vector<std::string_view> expected;
  for (size_t t = 0; t < TERMINAL_COUNT; ++t) {
    std::vector<int> stack = states;
    for (;;) {
      const int16_t action = reference::ACTION[stack.back()][t];
      if (action >= 0) {
        if (action > 0) expected.push_back(terminal_display(static_cast<Terminal>(t)));
        break;
      }
      const auto& shape = reference::RULE_SHAPES[-action - 1];
      stack.resize(stack.size() - shape.length);
      stack.push_back(reference::GOTO[stack.back()][static_cast<size_t>(shape.lhs)]);
    }
  }
  return expected;
}

Outcome fail(ParseError error) {
  Outcome out;
  out.error = error.to_string();
  out.location = error.location;
  out.end = error.end;
  return out;
}

Outcome reference_parse(std::string_view text) {
  Lexer lexer(text);
  std::vector<int> states{0};
  std::vector<std::string> values;  // rendered sub-trees, or token texts
  std::vector<std::vector<std::string>> lists;  // Args values, parallel to `values` (empty for the others)
  size_t last_end = 0;
  for (;;) {
    const LexStep step = lexer.next();
    if (step.kind == LexStep::Kind::InvalidToken) {
      ParseError error;
      error.location = step.offset;
      return fail(error);
    }
    const bool at_end = step.kind == LexStep::Kind::EndOfInput;
    const int column = at_end ? reference::TERMINAL_COUNT : static_cast<int>(step.token.terminal);
    for (;;) {
      const int16_t action = reference::ACTION[states.back()][column];
      if (action == reference::ACCEPT) {
        Outcome out;
        out.tree = values.back();
        return out;
      }
      if (action > 0) {
        states.push_back(action - 1);
        values.emplace_back(step.token.text);
        lists.emplace_back();
        last_end = step.token.end;
        break;
      }
      if (action == 0) {
        ParseError error;
        error.kind = at_end ? ParseError::Kind::UnrecognizedEof : ParseError::Kind::UnrecognizedToken;
        error.expected = expected_after(states);
        error.location = at_end ? last_end : step.token.start;
        if (!at_end) {
          error.end = step.token.end;
          error.token = std::string(step.token.text);
        }
        return fail(error);
      }
      const Rule rule = static_cast<Rule>(-action - 1);
      const auto& shape = reference::RULE_SHAPES[-action - 1];
      const size_t base = values.size() - shape.length;
      auto v = [&](size_t i) -> const std::string& { return values[base + i]; };
      std::string result;
      std::vector<std::string> list;
      switch (rule) {
        case Rule::ConditionalTernary: result = node("Ternary", {v(0), v(2), v(4)}); break;
        case Rule::UnaryPos: result = node("Pos", {v(1)}); break;
        case Rule::UnaryNeg: result = node("Neg", {v(1)}); break;
        case Rule::UnaryNot: result = node("Not", {v(1)}); break;
        case Rule::PrimaryCall: {
          const auto& args = lists[base + 2];
          result = "Call(" + v(0) + "; " + node("", args).substr(1);
          break;
        }
        case Rule::PrimaryCallEmpty: result = "Call(" + v(0) + ")"; break;
        case Rule::PrimaryParens: result = v(1); break;
        case Rule::VariableUuid: result = "Var({" + v(1) + "})"; break;
        case Rule::VariableName: result = "Var(" + v(0) + ")"; break;
        case Rule::LiteralNumber: {
          auto value = Decimal::from_str(v(0));
          if (!value) value = Decimal::from_scientific(v(0));
          if (!value) {
            ParseError error;
            error.kind = ParseError::Kind::ActionError;
            error.message = INVALID_DECIMAL_LITERAL;
            return fail(error);
          }
          result = "Number(" + value->to_string() + ")";
          break;
        }
        case Rule::ArgsMore:
          list.push_back(v(0));
          list.insert(list.end(), lists[base + 2].begin(), lists[base + 2].end());
          break;
        case Rule::ArgsOne: list.push_back(v(0)); break;
        default:
          if (shape.length == 1) {
            result = v(0);  // passes its child on
          } else {
            result = node(binary_name(rule), {v(0), v(2)});
          }
      }
      states.resize(states.size() - shape.length);
      values.resize(base);
      lists.resize(base);
      states.push_back(reference::GOTO[states.back()][static_cast<size_t>(shape.lhs)]);
      values.push_back(std::move(result));
      lists.push_back(std::move(list));
    }
  }
}

Outcome actual_parse(std::string_view text) {
  auto result = parse(text);
  if (!result) return fail(result.error());
  Outcome out;
  out.tree = describe(**result);
  return out;
}

// A random expression of at most `depth` levels, as tokens.
void random_expression(std::mt19937_64& rng, int depth, std::vector<std::string>& out) {
  static const char* const LEAVES[] = {"a", "x1", "max", "f", "_q", "1", "2.5", "-3", "1e3", "0.125", "-0.5e-2",
                                       "{ 123e4567-e89b-12d3-a456-426614174000 }", "1e999", "007"};
  static const char* const BINARY[] = {"+", "-", "*", "/", "//", "%", "^", "==", "!=", "<", "<=", ">", ">=", "and", "or"};
  static const char* const UNARY[] = {"+", "-", "not"};
  const int choice = depth <= 0 ? 0 : static_cast<int>(rng() % 8);
  switch (choice) {
    case 0:
    case 1:
      out.push_back(LEAVES[rng() % std::size(LEAVES)]);
      return;
    case 2:
      out.push_back(UNARY[rng() % std::size(UNARY)]);
      random_expression(rng, depth - 1, out);
      return;
    case 3:
      out.push_back("(");
      random_expression(rng, depth - 1, out);
      out.push_back(")");
      return;
    case 4: {
      out.push_back(rng() % 2 ? "max" : "g");
      out.push_back("(");
      const size_t args = rng() % 4;
      for (size_t i = 0; i < args; ++i) {
        if (i != 0) out.push_back(",");
        random_expression(rng, depth - 1, out);
      }
      out.push_back(")");
      return;
    }
    case 5:
      random_expression(rng, depth - 1, out);
      out.push_back("?");
      random_expression(rng, depth - 1, out);
      out.push_back(":");
      random_expression(rng, depth - 1, out);
      return;
    default:
      random_expression(rng, depth - 1, out);
      out.push_back(BINARY[rng() % std::size(BINARY)]);
      random_expression(rng, depth - 1, out);
      return;
  }
}

TEST(ParseReference, RandomTextsAgree) {
  std::mt19937_64 rng(20261208);
  size_t trees = 0, errors = 0;
  for (int i = 0; i < 20000; ++i) {
    std::vector<std::string> tokens;
    random_expression(rng, static_cast<int>(rng() % 7), tokens);
    // One in two texts is damaged: a token dropped, doubled or swapped with the next.
    if (rng() % 2 == 0 && !tokens.empty()) {
      const size_t at = rng() % tokens.size();
      switch (rng() % 3) {
        case 0: tokens.erase(tokens.begin() + static_cast<std::ptrdiff_t>(at)); break;
        case 1: tokens.insert(tokens.begin() + static_cast<std::ptrdiff_t>(at), tokens[at]); break;
        default:
          if (at + 1 < tokens.size()) std::swap(tokens[at], tokens[at + 1]);
      }
    }
    std::string text;
    for (const std::string& token : tokens) {
      if (!text.empty() && rng() % 4 != 0) text += ' ';
      text += token;
    }
    const Outcome expected = reference_parse(text);
    const Outcome actual = actual_parse(text);
    ASSERT_EQ(actual.tree, expected.tree) << "text: " << text;
    ASSERT_EQ(actual.error, expected.error) << "text: " << text;
    ASSERT_EQ(actual.location, expected.location) << "text: " << text;
    ASSERT_EQ(actual.end, expected.end) << "text: " << text;
    (expected.error.empty() ? trees : errors) += 1;
  }
  // Both outcomes must be well represented for the comparison to mean much.
  EXPECT_GT(trees, 5000u);
  EXPECT_GT(errors, 5000u);
}

}  // namespace
}  // namespace vexlor
