// Deep input is ordinary input: the parser and the tree's teardown use heap
// stacks. Each case runs on a thread with a 1 MB native stack, far less than
// any recursion over a million levels would need.

#include <gtest/gtest.h>
#include <pthread.h>

#include <functional>
#include <string>

#include "parser/parser.hpp"

namespace vexlor {
namespace {

constexpr size_t DEPTH = 1000000;
constexpr size_t SHALLOWER = 200000;  // for the costlier shapes (sanitizer builds run these too)

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

void run_on_small_stack(const std::function<void()>& body) {
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, 1 << 20), 0);
  pthread_t thread;
  auto trampoline = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, trampoline, const_cast<std::function<void()>*>(&body)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

#define DEEP_TEST(name) \
  void name##_body();   \
  TEST(DeepInput, name) { run_on_small_stack(name##_body); } \
  void name##_body()

DEEP_TEST(MillionOpeningParenthesesFail) {
  std::string text(DEPTH, '(');
  auto result = parse(text);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ParseError::Kind::UnrecognizedEof);
  EXPECT_EQ(result.error().location, DEPTH);
}

DEEP_TEST(MillionParenthesesAroundOneNumber) {
  std::string text = std::string(DEPTH, '(') + "1" + std::string(DEPTH, ')');
  auto result = parse(text);
  ASSERT_TRUE(result);
  EXPECT_EQ(describe(**result), "Number(1)");
}

DEEP_TEST(MillionAdditionsNestToTheRight) {
  std::string text = repeat("1+", DEPTH) + "1";
  auto result = parse(text);
  ASSERT_TRUE(result);
  EXPECT_EQ(right_spine(**result, ExprKind::Add), DEPTH);
}

DEEP_TEST(FailedChainReleasesItsPartialTrees) {
  // Every operand is reduced to a tree before the chain breaks at the end.
  std::string text = repeat("-(1)*", SHALLOWER) + ")";
  auto result = parse(text);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().kind, ParseError::Kind::UnrecognizedToken);
  EXPECT_EQ(result.error().location, text.size() - 1);
}

DEEP_TEST(DeepNestingFailingLate) {
  std::string text = repeat("f(1, -(", SHALLOWER) + "1e999" + std::string(2 * SHALLOWER, ')');
  auto result = parse(text);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().to_string(), "Invalid decimal literal");
}

DEEP_TEST(LongConditionalChain) {
  std::string text = repeat("not x ? 1 : ", SHALLOWER) + "0";
  auto result = parse(text);
  ASSERT_TRUE(result);
  EXPECT_EQ(right_spine(**result, ExprKind::Ternary), SHALLOWER);
}

DEEP_TEST(DeepCallArguments) {
  std::string text = "f(" + repeat("a, ", SHALLOWER) + "b)";
  auto result = parse(text);
  ASSERT_TRUE(result);
  EXPECT_EQ((*result)->child_count(), SHALLOWER + 1);
  EXPECT_EQ(describe((*result)->child(SHALLOWER)), "Var(b)");
}

}  // namespace
}  // namespace vexlor
