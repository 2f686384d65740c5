// compile_str: the code of each node kind, ternary jump targets, the depth bound.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>

#include "compiler/compiler.hpp"

namespace vexlor {
namespace {

std::string compiled(std::string_view text, size_t max_depth = 1024) {
  auto r = compile_str(text, max_depth);
  return r.ok() ? write_json(*r) : "error: " + r.error();
}

struct CodeCase {
  const char* text;
  const char* json;
};

TEST(CompileTest, CodeOfEachNodeKind) {
  static const CodeCase cases[] = {
      {"1 + 2", R"([{"PushConst":"1"},{"PushConst":"2"},"Add"])"},
      {"a + b * 2", R"([{"LoadVar":{"Name":"a"}},{"LoadVar":{"Name":"b"}},{"PushConst":"2"},"Mul","Add"])"},
      {"10 - 5 - 2", R"([{"PushConst":"10"},{"PushConst":"5"},{"PushConst":"2"},"Sub","Sub"])"},
      {"1.50 * -0.0", R"([{"PushConst":"1.50"},{"PushConst":"0.0"},"Mul"])"},
      {"a / b // c % d ^ e",
       R"([{"LoadVar":{"Name":"a"}},{"LoadVar":{"Name":"b"}},{"LoadVar":{"Name":"c"}},{"LoadVar":{"Name":"d"}},)"
       R"({"LoadVar":{"Name":"e"}},"Pow","Mod","FloorDiv","Div"])"},
      {"- x", R"([{"LoadVar":{"Name":"x"}},"Neg"])"},
      {"+x", R"([{"LoadVar":{"Name":"x"}},"Pos"])"},
      {"not x", R"([{"LoadVar":{"Name":"x"}},"Not"])"},
      {"a and b or c", R"([{"LoadVar":{"Name":"a"}},{"LoadVar":{"Name":"b"}},"And",{"LoadVar":{"Name":"c"}},"Or"])"},
      {"a == b", R"([{"LoadVar":{"Name":"a"}},{"LoadVar":{"Name":"b"}},"Eq"])"},
      {"a != b", R"([{"LoadVar":{"Name":"a"}},{"LoadVar":{"Name":"b"}},"Ne"])"},
      {"a < b", R"([{"LoadVar":{"Name":"a"}},{"LoadVar":{"Name":"b"}},"Lt"])"},
      {"a <= b", R"([{"LoadVar":{"Name":"a"}},{"LoadVar":{"Name":"b"}},"Le"])"},
      {"a > b", R"([{"LoadVar":{"Name":"a"}},{"LoadVar":{"Name":"b"}},"Gt"])"},
      {"a >= b", R"([{"LoadVar":{"Name":"a"}},{"LoadVar":{"Name":"b"}},"Ge"])"},
      {"f()", R"([{"Call":["f",0]}])"},
      {"max(1, x, 3)", R"([{"PushConst":"1"},{"LoadVar":{"Name":"x"}},{"PushConst":"3"},{"Call":["max",3]}])"},
      {"{123e4567-e89b-12d3-a456-426614174000} * 2",
       R"([{"LoadVar":{"Uuid":"123e4567-e89b-12d3-a456-426614174000"}},{"PushConst":"2"},"Mul"])"},
      {"x > 0 ? 1 : 2",
       R"([{"LoadVar":{"Name":"x"}},{"PushConst":"0"},"Gt",{"JumpIfFalse":6},{"PushConst":"1"},{"Jump":7},)"
       R"({"PushConst":"2"}])"},
      // An inner ternary in the else-branch jumps to the same end as the outer one.
      {"a ? b : c ? d : e",
       R"([{"LoadVar":{"Name":"a"}},{"JumpIfFalse":4},{"LoadVar":{"Name":"b"}},{"Jump":9},)"
       R"({"LoadVar":{"Name":"c"}},{"JumpIfFalse":8},{"LoadVar":{"Name":"d"}},{"Jump":9},{"LoadVar":{"Name":"e"}}])"},
      // An inner ternary in the then-branch: absolute targets inside the program.
      {"a ? (b ? c : d) : e",
       R"([{"LoadVar":{"Name":"a"}},{"JumpIfFalse":8},{"LoadVar":{"Name":"b"}},{"JumpIfFalse":6},)"
       R"({"LoadVar":{"Name":"c"}},{"Jump":7},{"LoadVar":{"Name":"d"}},{"Jump":9},{"LoadVar":{"Name":"e"}}])"},
      {"f(a ? 1 : 2, 3)",
       R"([{"LoadVar":{"Name":"a"}},{"JumpIfFalse":4},{"PushConst":"1"},{"Jump":5},{"PushConst":"2"},)"
       R"({"PushConst":"3"},{"Call":["f",2]}])"},
  };
  for (const auto& c : cases) EXPECT_EQ(compiled(c.text), c.json) << c.text;
}

struct DepthCase {
  std::string text;
  size_t max_depth;
  const char* expected;  // nullptr: compiles
};

std::string nested(size_t levels) {  // depth `levels`: (((1 + 1) + 1) ...)
  std::string text = "1";
  for (size_t i = 1; i < levels; ++i) text = "(" + text + ") + 1";
  return text;
}

TEST(CompileTest, DepthBound) {
  const DepthCase cases[] = {
      {"1", 1, nullptr},
      {"x", 1, nullptr},
      {"f()", 1, nullptr},
      {"1 + 2", 1, "Parse error: expression nesting depth 2 exceeds max_depth 1"},
      {"f(1)", 1, "Parse error: expression nesting depth 2 exceeds max_depth 1"},
      {nested(15), 15, nullptr},
      {nested(16), 15, "Parse error: expression nesting depth 16 exceeds max_depth 15"},
      {nested(40), 15, "Parse error: expression nesting depth 40 exceeds max_depth 15"},
      {"a ? b : c", 2, nullptr},
      {"a ? b : (c + 1)", 2, "Parse error: expression nesting depth 3 exceeds max_depth 2"},
      {"-(-(-x))", 3, "Parse error: expression nesting depth 4 exceeds max_depth 3"},
  };
  for (const auto& c : cases) {
    auto r = compile_str(c.text, c.max_depth);
    if (c.expected == nullptr) {
      EXPECT_TRUE(r.ok()) << c.text << ": " << (r.ok() ? "" : r.error());
    } else {
      ASSERT_FALSE(r.ok()) << c.text;
      EXPECT_EQ(r.error(), c.expected) << c.text;
    }
  }
}

TEST(CompileTest, VeryDeepTreeIsMeasuredAndReleasedWithoutRecursion) {
  // A right-grouped chain nests one level per operator.
  const size_t n = 200000;
  std::string text;
  text.reserve(n * 4);
  for (size_t i = 0; i < n; ++i) text += "1 + ";
  text += "1";
  auto r = compile_str(text, 1024);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), "Parse error: expression nesting depth " + std::to_string(n + 1) + " exceeds max_depth 1024");
}

TEST(CompileTest, ParseErrorTakesPrecedenceOverDepth) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "1 + ";
  text += "$";
  auto r = compile_str(text, 15);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), "Parse error: Invalid token at " + std::to_string(text.size() - 1));
}

TEST(CompileTest, ParseErrorsArePrefixed) {
  auto r = compile_str("1 + $", 15);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error(), "Parse error: Invalid token at 4");
  auto e = compile_str("1e999", 15);
  ASSERT_FALSE(e.ok());
  EXPECT_EQ(e.error().rfind("Parse error: ", 0), 0u);
}

TEST(CompileTest, DepthBoundAtLimitCompilesLongProgram) {
  // max_depth 1024 admits a chain of 1023 additions.
  std::string text;
  for (int i = 0; i < 1023; ++i) text += "x + ";
  text += "1";
  auto r = compile_str(text, 1024);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->size(), 2047u);
  EXPECT_EQ((*r)[2046].kind(), OpKind::Add);
}

// Depth by plain recursion: only for the shallow random trees below.
size_t depth_of(const Expr& node) {
  size_t deepest = 0;
  for (size_t i = 0; i < node.child_count(); ++i) deepest = std::max(deepest, depth_of(node.child(i)));
  return deepest + 1;
}

std::string random_text(std::mt19937_64& rng, int depth) {
  static const char* const LEAVES[] = {"a", "b", "2", "-1.5", "{123e4567-e89b-12d3-a456-426614174000}", "max()"};
  static const char* const BINARY[] = {" + ", " - ", " * ", " / ", " ^ ", " < ", " == ", " and ", " or "};
  switch (depth <= 0 ? 0 : rng() % 6) {
    case 0: return LEAVES[rng() % std::size(LEAVES)];
    case 1: return "-(" + random_text(rng, depth - 1) + ")";
    case 2: return "min(" + random_text(rng, depth - 1) + ", " + random_text(rng, depth - 1) + ")";
    case 3:
      return "(" + random_text(rng, depth - 1) + " ? " + random_text(rng, depth - 1) + " : " +
             random_text(rng, depth - 1) + ")";
    default: return "(" + random_text(rng, depth - 1) + BINARY[rng() % std::size(BINARY)] + random_text(rng, depth - 1) + ")";
  }
}

// compile_str, which emits code while it parses, against parse, a recursive
// depth and emit: the same program at the tree's exact depth, the depth error
// one below it; and the program's room stays within its fixed estimate.
TEST(CompileTest, RandomTreesAgreeWithParseAndEmit) {
  std::mt19937_64 rng(8122026);
  for (int i = 0; i < 3000; ++i) {
    const std::string text = random_text(rng, static_cast<int>(rng() % 8));
    auto tree = parse(text);
    ASSERT_TRUE(tree.ok()) << text;
    const size_t depth = depth_of(**tree);
    Program expected;
    emit(**tree, expected);
    auto program = compile_str(text, depth);
    ASSERT_TRUE(program.ok()) << text;
    EXPECT_TRUE(programs_equal(*program, expected)) << text;
    EXPECT_LE(program->capacity(), std::max(program->size(), std::min<size_t>(text.size() / 2 + 4, 1024))) << text;
    if (depth > 1) {
      auto refused = compile_str(text, depth - 1);
      ASSERT_FALSE(refused.ok()) << text;
      EXPECT_EQ(refused.error(), "Parse error: expression nesting depth " + std::to_string(depth) +
                                     " exceeds max_depth " + std::to_string(depth - 1));
    }
  }
}

}  // namespace
}  // namespace vexlor
