// Deep input is ordinary input: the parser and the tree's teardown use heap
// stacks, so these run in the default native stack (also under sanitizers).

#include <gtest/gtest.h>

#include <string>

#include "parser/parser.hpp"

namespace vexlor {
namespace {

constexpr size_t DEPTH = 1000000;

std::string repeat(std::string_view piece, size_t n) {
  std::string out;
  out.reserve(piece.size() * n);
  for (size_t i = 0; i < n; ++i) out += piece;
  return out;
}

// Walks the right spine of a chain, returning its length in nodes of `kind`.
size_t right_spine(const Expr& root, ExprKind kind) {
  size_t n = 0;
  const Expr* node = &root;
  while (node->kind() == kind) {
    ++n;
    node = &node->child(node->child_count() - 1);
  }
  return n;
}

TEST(DeepInput, MillionOpeningParenthesesFail) {
  std::string text(DEPTH, '(');
  auto result = parse(text);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ParseError::Kind::UnrecognizedEof);
  EXPECT_EQ(result.error().location, DEPTH);
}

TEST(DeepInput, MillionParenthesesAroundOneNumber) {
  std::string text = std::string(DEPTH, '(') + "1" + std::string(DEPTH, ')');
  auto result = parse(text);
  ASSERT_TRUE(result);
  EXPECT_EQ(describe(**result), "Number(1)");
}

TEST(DeepInput, MillionAdditionsNestToTheRight) {
  std::string text = repeat("1+", DEPTH) + "1";
  auto result = parse(text);
  ASSERT_TRUE(result);
  EXPECT_EQ(right_spine(**result, ExprKind::Add), DEPTH);
}

TEST(DeepInput, FailedChainReleasesItsPartialTrees) {
  // Every operand is reduced to a tree before the chain breaks at the end.
  std::string text = repeat("-(1)*", DEPTH) + ")";
  auto result = parse(text);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ParseError::Kind::UnrecognizedToken);
  EXPECT_EQ(result.error().location, text.size() - 1);
}

TEST(DeepInput, DeepNestingFailingLate) {
  std::string text = repeat("f(1, -(", DEPTH / 4) + "1e999" + std::string(DEPTH / 4, ')');
  auto result = parse(text);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().to_string(), "Invalid decimal literal");
}

TEST(DeepInput, MillionUnaryOperandsAndConditionals) {
  std::string text = repeat("not x ? 1 : ", DEPTH / 4) + "0";
  auto result = parse(text);
  ASSERT_TRUE(result);
  EXPECT_EQ(right_spine(**result, ExprKind::Ternary), DEPTH / 4);
}

TEST(DeepInput, DeepCallArguments) {
  std::string text = "f(" + repeat("a, ", DEPTH) + "b)";
  auto result = parse(text);
  ASSERT_TRUE(result);
  EXPECT_EQ((*result)->child_count(), DEPTH + 1);
  EXPECT_EQ(describe((*result)->child(DEPTH)), "Var(b)");
}

}  // namespace
}  // namespace vexlor
