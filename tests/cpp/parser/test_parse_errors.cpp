#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "parser/parser.hpp"

namespace vexlor {
namespace {

using T = Terminal;

std::string parse_message(std::string_view text) {
  auto result = parse(text);
  if (result) return "OK";
  return result.error().to_string();
}

// The expected suffix for a set of terminals, written in terminal order.
std::string suffix(std::vector<Terminal> terminals) {
  std::sort(terminals.begin(), terminals.end());
  terminals.erase(std::unique(terminals.begin(), terminals.end()), terminals.end());
  if (terminals.empty()) return "";
  std::string out = "\nExpected one of ";
  for (size_t i = 0; i < terminals.size(); ++i) {
    if (i != 0) out += i + 1 == terminals.size() ? " or " : ", ";
    out += terminal_display(terminals[i]);
  }
  return out;
}

std::vector<Terminal> operator+(std::vector<Terminal> a, const std::vector<Terminal>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<Terminal> OPERAND = {T::Number, T::Ident, T::LParen, T::Plus, T::Minus, T::Not, T::LBrace};
const std::vector<Terminal> AFTER_CALL_PAREN = OPERAND + std::vector<Terminal>{T::RParen};
const std::vector<Terminal> AFTER_UNARY = {T::Number, T::Ident, T::LParen, T::LBrace};
const std::vector<Terminal> COMPARISONS = {T::NotEqual, T::Less, T::LessEqual, T::EqualEqual, T::Greater,
                                           T::GreaterEqual};
const std::vector<Terminal> ARITHMETIC = {T::Percent, T::Star, T::Plus, T::Minus, T::Slash, T::SlashSlash, T::Caret};

std::string eof_at(size_t location, const std::vector<Terminal>& list) {
  return "Unrecognized EOF found at " + std::to_string(location) + suffix(list);
}

std::string token_at(std::string_view token, size_t start, const std::vector<Terminal>& list) {
  return "Unrecognized token `" + std::string(token) + "` found at " + std::to_string(start) + ":" +
         std::to_string(start + token.size()) + suffix(list);
}

// ------------------------------------------------------------ worked messages

TEST(ParseErrors, WorkedMessages) {
  const std::string number = R"x(r#"-?\\d+(\\.\\d+)?([eE][+-]?\\d+)?"#)x";
  const std::string ident = R"x(r#"[a-zA-Z_][a-zA-Z0-9_]*"#)x";
  const std::string uuid = R"x(r#"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"#)x";
  const std::string operand_list =
      "\nExpected one of " + number + ", " + ident + R"x(, "(", "+", "-", "not" or "{")x";
  const std::string after_number = R"x(
Expected one of "!=", "%", "*", "+", "-", "/", "//", "<", "<=", "==", ">", ">=", "?", "^", "and" or "or")x";
  const std::string after_ident = R"x(
Expected one of "!=", "%", "(", "*", "+", "-", "/", "//", "<", "<=", "==", ">", ">=", "?", "^", "and" or "or")x";
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"1 +", "Unrecognized EOF found at 3" + operand_list},
      {"1 + ", "Unrecognized EOF found at 3" + operand_list},
      {"", "Unrecognized EOF found at 0" + operand_list},
      {"   ", "Unrecognized EOF found at 0" + operand_list},
      {"\u3000\u00a0", "Unrecognized EOF found at 0" + operand_list},
      {"1 + $", "Invalid token at 4"},
      {"1 2 $", "Unrecognized token `2` found at 2:3" + after_number},
      {"1 2", "Unrecognized token `2` found at 2:3" + after_number},
      {"$1", "Invalid token at 0"},
      {"\u00e9", "Invalid token at 0"},
      {"\u00e9\u00e9+", "Invalid token at 0"},
      {"1 + \u00e9", "Invalid token at 4"},
      {"\u00a0\u00a01 + \u00e9", "Invalid token at 8"},
      {"1-2", "Unrecognized token `-2` found at 1:3" + after_number},
      {"a-1", "Unrecognized token `-1` found at 1:3" + after_ident},
      {"2 3", "Unrecognized token `3` found at 2:3" + after_number},
      {"x 3", "Unrecognized token `3` found at 2:3" + after_ident},
      {"(1", "Unrecognized EOF found at 2\nExpected one of \")\""},
      {"f(1", "Unrecognized EOF found at 3\nExpected one of \")\" or \",\""},
      {"f(1,", "Unrecognized EOF found at 4" + operand_list},
      {"a ? b", "Unrecognized EOF found at 5\nExpected one of \":\""},
      {"a < b < c", "Unrecognized token `<` found at 6:7\nExpected one of \"?\", \"and\" or \"or\""},
      {"a ? b and c : d", "Unrecognized token `and` found at 6:9\nExpected one of \":\""},
      {"{ABC}", "Unrecognized token `ABC` found at 1:4\nExpected one of " + uuid},
      {"1)", "Unrecognized token `)` found at 1:2"},
      {"1e999 + 1", "Invalid decimal literal"},
      {"1e999", "Invalid decimal literal"},
      {"1e999 2", "Unrecognized token `2` found at 6:7" + after_number},
      {"1e999 $", "Invalid token at 6"},
      {"\u0661\u0662", "Invalid decimal literal"},
      {"\u0661 + 1", "Invalid decimal literal"},
      {"\u0661 1", "Unrecognized token `1` found at 3:4" + after_number},
      {"f(1, )", "Unrecognized token `)` found at 5:6" + operand_list},
      {"()", "Unrecognized token `)` found at 1:2" + operand_list},
      {"123e4567-e89b-12d3-a456-426614174000",
       "Unrecognized token `123e4567-e89b-12d3-a456-426614174000` found at 0:36" + operand_list},
      {"and(1)", "Unrecognized token `and` found at 0:3" + operand_list},
      {"not(1) + or", "Unrecognized token `or` found at 9:11" + operand_list},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse_message(c.text), c.message) << "text: " << c.text;
  }
}

TEST(ParseErrors, Kinds) {
  struct Case {
    const char* text;
    ParseError::Kind kind;
    size_t location;
  };
  const Case cases[] = {
      {"1 + $", ParseError::Kind::InvalidToken, 4},
      {"1 +", ParseError::Kind::UnrecognizedEof, 3},
      {"1 2", ParseError::Kind::UnrecognizedToken, 2},
      {"1e999", ParseError::Kind::ActionError, 0},
  };
  for (const Case& c : cases) {
    auto result = parse(c.text);
    ASSERT_FALSE(result) << c.text;
    EXPECT_EQ(result.error().kind, c.kind) << c.text;
    EXPECT_EQ(result.error().location, c.location) << c.text;
  }
  auto result = parse("a ? b and");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().token, "and");
  EXPECT_EQ(result.error().end, 9u);
  EXPECT_EQ(result.error().expected, std::vector<std::string_view>{"\":\""});
}

// ------------------------------------------------------------ every list in every context

struct Context {
  const char* name;
  std::string open;                  // text that opens the context
  std::vector<Terminal> tail;        // what may follow a complete operand there
};

const Context CONTEXTS[] = {
    {"top level", "", {T::Question, T::And, T::Or}},
    {"parentheses", "(", {T::RParen, T::Question, T::And, T::Or}},
    {"arguments", "f(", {T::RParen, T::Comma, T::Question, T::And, T::Or}},
    {"then-branch", "c ? ", {T::Colon}},
    {"arguments after a comma", "g(x, ", {T::RParen, T::Comma, T::Question, T::And, T::Or}},
    {"nested parentheses", "((", {T::RParen, T::Question, T::And, T::Or}},
    {"parentheses in a then-branch", "c ? (", {T::RParen, T::Question, T::And, T::Or}},
    {"then-branch in arguments", "f(c ? ", {T::Colon}},
    {"else-branch at top level", "c ? d : ", {T::Question, T::And, T::Or}},
    {"condition in parentheses", "(a and ", {T::RParen, T::Question, T::And, T::Or}},
    {"right of or in a then-branch", "c ? (d or ", {T::RParen, T::Question, T::And, T::Or}},
};

// One row of the table: a text after the context's opening, and its error,
// either at end of input or at the last token of the text.
struct Row {
  const char* situation;
  std::string text;
  const char* offending;  // nullptr: end of input
  std::vector<Terminal> list;
  bool add_tail;  // whether the context's own list is appended
};

std::vector<Row> rows_for() {
  const std::vector<Terminal> ops_and_comparisons = ARITHMETIC + COMPARISONS;
  const char* uuid = "{123e4567-e89b-12d3-a456-426614174000}";
  std::vector<Row> rows = {
      {"operand required after a two-operand operator, at end", "1 +", nullptr, OPERAND, false},
      {"operand required after a two-operand operator, token", "1 * )", ")", OPERAND, false},
      {"operand required after a comparison", "1 <= ,", ",", OPERAND, false},
      {"operand required after and", "1 and }", "}", OPERAND, false},
      {"operand required after or", "1 or", nullptr, OPERAND, false},
      {"operand required after ^", "1 ^ *", "*", OPERAND, false},
      {"operand required after (", "(", nullptr, OPERAND, false},
      {"operand required after ( token", "( :", ":", OPERAND, false},
      {"operand required after ?", "a ?", nullptr, OPERAND, false},
      {"operand required after :", "a ? b :", nullptr, OPERAND, false},
      {"operand required after , in arguments", "h(1,", nullptr, OPERAND, false},
      {"right after IDENT (", "h(", nullptr, AFTER_CALL_PAREN, false},
      {"right after IDENT ( token", "h( ,", ",", AFTER_CALL_PAREN, false},
      {"right after unary +", "+", nullptr, AFTER_UNARY, false},
      {"right after unary -", "- -", "-", AFTER_UNARY, false},
      {"right after not", "not not", "not", AFTER_UNARY, false},
      {"right after not, +", "not +", "+", AFTER_UNARY, false},
      {"right after {", "{", nullptr, {T::Uuid}, false},
      {"right after { token", "{ a", "a", {T::Uuid}, false},
      {"right after { UUID", "{123e4567-e89b-12d3-a456-426614174000", nullptr, {T::RBrace}, false},
      {"right after { UUID token", "{123e4567-e89b-12d3-a456-426614174000 +", "+", {T::RBrace}, false},
      // A complete operand followed by a token that can follow no operand.
      {"identifier then NUMBER", "a 3", "3", ops_and_comparisons + std::vector<Terminal>{T::LParen}, true},
      {"identifier then -NUMBER", "a-1", "-1", ops_and_comparisons + std::vector<Terminal>{T::LParen}, true},
      {"identifier then UUID", "a 123e4567-e89b-12d3-a456-426614174000", "123e4567-e89b-12d3-a456-426614174000",
       ops_and_comparisons + std::vector<Terminal>{T::LParen}, true},
      {"identifier then IDENT", "a b", "b", ops_and_comparisons + std::vector<Terminal>{T::LParen}, true},
      {"identifier then not", "a not", "not", ops_and_comparisons + std::vector<Terminal>{T::LParen}, true},
      {"identifier then {", "a {", "{", ops_and_comparisons + std::vector<Terminal>{T::LParen}, true},
      {"identifier then }", "a }", "}", ops_and_comparisons + std::vector<Terminal>{T::LParen}, true},
      {"number then (", "2 (", "(", ops_and_comparisons, true},
      {"number then NUMBER", "2 3", "3", ops_and_comparisons, true},
      {"negative number then IDENT", "-2 x", "x", ops_and_comparisons, true},
      {"call then (", "h(1) (", "(", ops_and_comparisons, true},
      {"empty call then NUMBER", "h() 1", "1", ops_and_comparisons, true},
      {"parenthesised then (", "(a) (", "(", ops_and_comparisons, true},
      {"braced UUID then (", std::string(uuid) + " (", "(", ops_and_comparisons, true},
      {"unary then identifier then IDENT", "-a b", "b", ops_and_comparisons + std::vector<Terminal>{T::LParen}, true},
      {"unary then parentheses then IDENT", "not (a) b", "b", ops_and_comparisons, true},
      {"identifier after an operator then }", "1 + a }", "}", ops_and_comparisons + std::vector<Terminal>{T::LParen},
       true},
      {"right of a comparison, identifier", "a < b 3", "3", ARITHMETIC + std::vector<Terminal>{T::LParen}, true},
      {"right of a comparison, number", "a == 2 not", "not", ARITHMETIC, true},
      {"right of a comparison, deeper", "a >= b * c + d {", "{", ARITHMETIC + std::vector<Terminal>{T::LParen}, true},
      {"right of a comparison, call", "a != h(b) (", "(", ARITHMETIC, true},
      {"left of a comparison again after and", "a < b and c 1", "1",
       ops_and_comparisons + std::vector<Terminal>{T::LParen}, true},
      // A complete comparison followed by another comparison operator.
      {"comparison chain <", "a < b <", "<", {}, true},
      {"comparison chain ==", "1 == 2 !=", "!=", {}, true},
      {"comparison chain >= after arithmetic", "a > b + 1 >=", ">=", {}, true},
  };
  return rows;
}

TEST(ParseErrors, EveryRowInEveryContext) {
  for (const Context& ctx : CONTEXTS) {
    bool then_branch = ctx.tail == std::vector<Terminal>{T::Colon};
    for (const Row& row : rows_for()) {
      // A then-branch is a single comparison: "?", "and" and "or" end it there.
      std::string_view written = row.text;
      bool loose = written.find('?') != written.npos || written.find(" and ") != written.npos ||
                   written.find(" or") != written.npos;
      if (then_branch && loose) continue;
      std::string text = ctx.open + row.text;
      std::vector<Terminal> list = row.add_tail ? row.list + ctx.tail : row.list;
      std::string expected = row.offending == nullptr
                                 ? eof_at(text.size(), list)
                                 : token_at(row.offending, text.size() - std::string_view(row.offending).size(), list);
      EXPECT_EQ(parse_message(text), expected) << ctx.name << " / " << row.situation << " / text: " << text;
    }
  }
}

// Rows whose list depends on the context in a way of their own.
TEST(ParseErrors, ContextEndings) {
  const std::vector<Terminal> colon = {T::Colon};
  const std::vector<Terminal> rparen = {T::RParen};
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      // A complete operand outside a then-branch followed by ":".
      {"a :", token_at(":", 2, {T::Question, T::And, T::Or})},
      {"2 * 3 :", token_at(":", 6, {T::Question, T::And, T::Or})},
      {"(a :", token_at(":", 3, {T::RParen, T::Question, T::And, T::Or})},
      {"f(a :", token_at(":", 4, {T::RParen, T::Comma, T::Question, T::And, T::Or})},
      {"a < b :", token_at(":", 6, {T::Question, T::And, T::Or})},
      {"c ? d : e :", token_at(":", 10, {T::Question, T::And, T::Or})},
      {"c ? (a :", token_at(":", 7, {T::RParen, T::Question, T::And, T::Or})},
      // A complete operand in a then-branch followed by "?", "and", "or", ")", "," or end of input.
      {"c ? a ?", token_at("?", 6, colon)},
      {"c ? a and", token_at("and", 6, colon)},
      {"c ? a or", token_at("or", 6, colon)},
      {"c ? a )", token_at(")", 6, colon)},
      {"c ? a ,", token_at(",", 6, colon)},
      {"c ? a", eof_at(5, colon)},
      {"c ? a < b ?", token_at("?", 10, colon)},
      {"c ? f(1)", eof_at(8, colon)},
      {"(c ? a)", token_at(")", 6, colon)},
      {"f(c ? a, 1)", token_at(",", 7, colon)},
      {"a ? b ? c : d : e", token_at("?", 6, colon)},
      {"x ? y : c ? a and", token_at("and", 14, colon)},
      // A complete operand at top level followed by ")" or ",": no expected suffix.
      {"a )", token_at(")", 2, {})},
      {"a ,", token_at(",", 2, {})},
      {"f(1) )", token_at(")", 5, {})},
      {"a < b ,", token_at(",", 6, {})},
      {"c ? d : e )", token_at(")", 10, {})},
      {"a and b ,", token_at(",", 8, {})},
      // A complete operand in parentheses followed by "," or end of input.
      {"(a ,", token_at(",", 3, rparen)},
      {"(a", eof_at(2, rparen)},
      {"(a < b", eof_at(6, rparen)},
      {"(c ? d : e", eof_at(10, rparen)},
      {"((a)", eof_at(4, rparen)},
      {"f((a,", token_at(",", 4, rparen)},
      // A complete operand in arguments followed by end of input.
      {"f(a", eof_at(3, {T::RParen, T::Comma})},
      {"f(1, a < b", eof_at(10, {T::RParen, T::Comma})},
      {"f(g(a)", eof_at(6, {T::RParen, T::Comma})},
      {"f(c ? d : e", eof_at(11, {T::RParen, T::Comma})},
      {"f(a or b", eof_at(8, {T::RParen, T::Comma})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse_message(c.text), c.message) << "text: " << c.text;
  }
}

}  // namespace
}  // namespace vexlor
