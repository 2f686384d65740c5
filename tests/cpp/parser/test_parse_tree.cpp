#include <gtest/gtest.h>

#include <string>

#include "parser/parser.hpp"

namespace vexlor {
namespace {

std::string tree_of(std::string_view text) {
  auto result = parse(text);
  if (!result) return "error: " + result.error().to_string();
  return describe(**result);
}

struct TreeCase {
  const char* text;
  const char* tree;
};

const TreeCase TREE_CASES[] = {
    {"a + b * 2", "Add(Var(a), Mul(Var(b), Number(2)))"},
    {"10 - 5 - 2", "Sub(Number(10), Sub(Number(5), Number(2)))"},
    {"2 ^ 3 ^ 2", "Pow(Number(2), Pow(Number(3), Number(2)))"},
    {"8 / 4 / 2", "Div(Number(8), Div(Number(4), Number(2)))"},
    {"7 % 4 % 2", "Mod(Number(7), Mod(Number(4), Number(2)))"},
    {"a // b % c * d / e", "FloorDiv(Var(a), Mod(Var(b), Mul(Var(c), Div(Var(d), Var(e)))))"},
    {"a * b + c", "Add(Mul(Var(a), Var(b)), Var(c))"},
    {"a + b ^ c * d", "Add(Var(a), Mul(Pow(Var(b), Var(c)), Var(d)))"},
    {"(a + b) * c", "Mul(Add(Var(a), Var(b)), Var(c))"},
    {"(((a)))", "Var(a)"},
    {"-2 ^ 2", "Pow(Number(-2), Number(2))"},
    {"- 2 ^ 2", "Pow(Neg(Number(2)), Number(2))"},
    {"-x ^ 2", "Pow(Neg(Var(x)), Number(2))"},
    {"+-1", "Pos(Number(-1))"},
    {"+x", "Pos(Var(x))"},
    {"--1", "Neg(Number(-1))"},
    {"2--1", "Sub(Number(2), Number(-1))"},
    {"2*-3", "Mul(Number(2), Number(-3))"},
    {"-(-x)", "Neg(Neg(Var(x)))"},
    {"not a == b", "Eq(Not(Var(a)), Var(b))"},
    {"not (a and b)", "Not(And(Var(a), Var(b)))"},
    {"a == b", "Eq(Var(a), Var(b))"},
    {"a != b", "Ne(Var(a), Var(b))"},
    {"a < b", "Lt(Var(a), Var(b))"},
    {"a <= b", "Le(Var(a), Var(b))"},
    {"a > b", "Gt(Var(a), Var(b))"},
    {"a >= b", "Ge(Var(a), Var(b))"},
    {"a + 1 < b * 2", "Lt(Add(Var(a), Number(1)), Mul(Var(b), Number(2)))"},
    {"a or b or c", "Or(Var(a), Or(Var(b), Var(c)))"},
    {"a and b and c", "And(Var(a), And(Var(b), Var(c)))"},
    {"a or b and c", "Or(Var(a), And(Var(b), Var(c)))"},
    {"a and b or c", "Or(And(Var(a), Var(b)), Var(c))"},
    {"a and b ? c : d", "And(Var(a), Ternary(Var(b), Var(c), Var(d)))"},
    {"a ? b : c ? d : e", "Ternary(Var(a), Var(b), Ternary(Var(c), Var(d), Var(e)))"},
    {"a ? (b ? c : d) : e", "Ternary(Var(a), Ternary(Var(b), Var(c), Var(d)), Var(e))"},
    {"a == b ? 1 : 0", "Ternary(Eq(Var(a), Var(b)), Number(1), Number(0))"},
    {"a ? b : c or d", "Or(Ternary(Var(a), Var(b), Var(c)), Var(d))"},
    {"f()", "Call(f)"},
    {"f(1)", "Call(f; Number(1))"},
    {"f(a, b + 1, c)", "Call(f; Var(a), Add(Var(b), Number(1)), Var(c))"},
    {"f(g(x), h())", "Call(f; Call(g; Var(x)), Call(h))"},
    {"f(a ? b : c, d or e)", "Call(f; Ternary(Var(a), Var(b), Var(c)), Or(Var(d), Var(e)))"},
    {"max(1, 2) + max", "Add(Call(max; Number(1), Number(2)), Var(max))"},
    {"-f(1)", "Neg(Call(f; Number(1)))"},
    {"{123e4567-e89b-12d3-a456-426614174000} * 2", "Mul(Var({123e4567-e89b-12d3-a456-426614174000}), Number(2))"},
    {"{ 123e4567-e89b-12d3-a456-426614174000 }", "Var({123e4567-e89b-12d3-a456-426614174000})"},
    {"andy + order + not_x", "Add(Var(andy), Add(Var(order), Var(not_x)))"},
    {"AND", "Var(AND)"},
    {"1.50", "Number(1.50)"},
    {"-7.25", "Number(-7.25)"},
    {"0.0", "Number(0.0)"},
    {"\u3000a\u00a0+\u20001", "Add(Var(a), Number(1))"},
};

TEST(ParseTree, PrecedenceAndGrouping) {
  for (const TreeCase& c : TREE_CASES) {
    EXPECT_EQ(tree_of(c.text), c.tree) << "text: " << c.text;
  }
}

TEST(ParseTree, NumberLiteralsTryTextThenScientific) {
  struct Case {
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {"1e5", true},   {"1E+5", true}, {"2.5e-3", true},  {"-1e2", true},
      {"79228162514264337593543950335", true}, {"79228162514264337593543950336", false},
      {"1e999", false}, {"\u0661", false},
  };
  for (const Case& c : cases) {
    auto tree = parse(c.text);
    ASSERT_EQ(static_cast<bool>(tree), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_EQ(tree.error().kind, ParseError::Kind::ActionError);
      EXPECT_EQ(tree.error().to_string(), "Invalid decimal literal");
      continue;
    }
    ASSERT_EQ((*tree)->kind(), ExprKind::Number) << c.text;
    auto by_text = Decimal::from_str(c.text);
    auto expected = by_text ? by_text : Decimal::from_scientific(c.text);
    ASSERT_TRUE(expected) << c.text;
    EXPECT_TRUE((*tree)->number().same_repr(*expected)) << c.text;
  }
}

TEST(ParseTree, NodeAccess) {
  auto tree = parse("f(1, x) ? -y : {00000000-0000-0000-0000-0000000000ff}");
  ASSERT_TRUE(tree);
  const Expr& root = **tree;
  ASSERT_EQ(root.kind(), ExprKind::Ternary);
  ASSERT_EQ(root.child_count(), 3u);
  const Expr& call = root.child(0);
  EXPECT_EQ(call.kind(), ExprKind::Call);
  EXPECT_EQ(call.call_name(), "f");
  ASSERT_EQ(call.child_count(), 2u);
  EXPECT_EQ(call.child(0).kind(), ExprKind::Number);
  EXPECT_EQ(call.child(1).var(), VarId::name("x"));
  EXPECT_EQ(root.child(1).kind(), ExprKind::Neg);
  EXPECT_EQ(root.child(1).child_count(), 1u);
  UuidBytes bytes{};
  bytes[15] = 0xff;
  EXPECT_EQ(root.child(2).var(), VarId::uuid(bytes));
  EXPECT_EQ(root.child(2).child_count(), 0u);
}

TEST(ParseTree, ReleaseChildren) {
  auto tree = parse("a + f(b, c)");
  ASSERT_TRUE(tree);
  std::vector<ExprPtr> taken;
  (*tree)->release_children(taken);
  ASSERT_EQ(taken.size(), 2u);
  EXPECT_EQ((*tree)->child_count(), 0u);
  taken[1]->release_children(taken);
  EXPECT_EQ(taken.size(), 4u);
  EXPECT_EQ(taken[1]->child_count(), 0u);  // a call's argument list empties
  EXPECT_EQ(describe(*taken[3]), "Var(c)");
}

}  // namespace
}  // namespace vexlor
