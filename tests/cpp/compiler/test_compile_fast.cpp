// The compiler's fast path against the LALR parser: on random token sequences,
// mostly well-formed and often not, the fast path must take exactly the texts
// the parser accepts, emit the program of the parsed tree and report its depth;
// compile_str must word every error as the parser does.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "compiler/compile_fast.hpp"
#include "compiler/compiler.hpp"
#include "tree_depth.hpp"

namespace vexlor {
namespace {

using testing_support::depth_of;

// Texts made by a walk that mostly alternates operands and operators, keeps
// track of open parentheses and calls, and now and then puts any token at all.
class TokenWalk {
 public:
  explicit TokenWalk(uint64_t seed) : rng_(seed) {}

  std::string text() {
    static const char* const OPERANDS[] = {"a", "b1", "_x", "x_long_variable_name", "7", "2.5", "-3", "1e3", "0.000",
                                           "{123e4567-e89b-12d3-a456-426614174000}", "max()", "f()"};
    static const char* const UNARY[] = {"-", "+", "not "};
    static const char* const BINARY[] = {"+", "-", "*", "/", "//", "%", "^", "==", "!=", "<", "<=", ">", ">=", " and ",
                                         " or "};
    static const char* const ANY[] = {"a", "1", "-", "+", "*", "(", ")", ",", "?", ":", "and", "or", "not", "{", "}",
                                      "123e4567-e89b-12d3-a456-426614174000", "=", "1.", "99999999999999999999999999999999",
                                      "min(", "<", "^", "- -", "--1", "é", "\u0661", "\u00a0"};
    std::string out;
    std::vector<char> open;  // '(' or 'f'
    bool operand = true;
    const size_t length = 1 + rng_() % 14;
    for (size_t i = 0; i < length || operand; ++i) {
      if (i > 40) break;
      const char* space = rng_() % 3 == 0 ? "" : " ";
      if (rng_() % 12 == 0) {
        out += ANY[rng_() % std::size(ANY)];
        out += space;
        operand = rng_() % 2 == 0;
        continue;
      }
      if (operand) {
        switch (rng_() % 8) {
          case 0:
            out += UNARY[rng_() % std::size(UNARY)];
            continue;
          case 1:
            out += "(";
            open.push_back('(');
            continue;
          case 2:
            out += rng_() % 2 ? "min(" : "f (";
            open.push_back('f');
            continue;
          default:
            out += OPERANDS[rng_() % std::size(OPERANDS)];
            operand = false;
        }
      } else {
        const unsigned pick = rng_() % 10;
        if (pick == 0 && !open.empty()) {
          out += ")";
          open.pop_back();
        } else if (pick == 1 && !open.empty() && open.back() == 'f') {
          out += ",";
          operand = true;
        } else if (pick == 2) {
          out += rng_() % 2 ? " ? " : " : ";
          operand = true;
        } else {
          out += BINARY[rng_() % std::size(BINARY)];
          operand = true;
        }
      }
      out += space;
    }
    while (!open.empty() && rng_() % 8 != 0) {
      out += ")";
      open.pop_back();
    }
    return out;
  }

 private:
  std::mt19937_64 rng_;
};

TEST(CompileFastTest, TakesExactlyWhatTheParserAccepts) {
  TokenWalk walk(20261208);
  size_t accepted = 0, refused = 0;
  for (int i = 0; i < 40000; ++i) {
    const std::string text = walk.text();
    auto tree = parse(text);
    Program fast;
    size_t fast_depth = 0;
    const bool taken = compile_fast(text, fast, fast_depth);
    auto compiled = compile_str(text, 1024);
    if (!tree.ok()) {
      ++refused;
      EXPECT_FALSE(taken) << text;
      ASSERT_FALSE(compiled.ok()) << text;
      EXPECT_EQ(compiled.error(), "Parse error: " + tree.error().to_string()) << text;
      continue;
    }
    ++accepted;
    Program expected;
    emit(**tree, expected);
    ASSERT_TRUE(taken) << text;
    EXPECT_TRUE(programs_equal(fast, expected)) << text;
    EXPECT_EQ(fast_depth, depth_of(**tree)) << text;
    ASSERT_TRUE(compiled.ok()) << text;
    EXPECT_TRUE(programs_equal(*compiled, expected)) << text;
  }
  // Both outcomes are common enough to mean something.
  EXPECT_GT(accepted, 8000u);
  EXPECT_GT(refused, 8000u);
}

// Long chains and deep nesting outgrow the fast path's inline stacks.
TEST(CompileFastTest, LongChainsAndDeepNesting) {
  std::string chain = "a";
  for (int i = 0; i < 300; ++i) chain += i % 2 ? " + a" : " ^ b";
  std::string nested;
  for (int i = 0; i < 300; ++i) nested += "-(";
  nested += "x";
  for (int i = 0; i < 300; ++i) nested += ")";
  const std::string ternaries = [] {
    std::string t;
    for (int i = 0; i < 200; ++i) t += "c" + std::to_string(i) + " ? " + std::to_string(i) + " : ";
    return t + "0";
  }();
  for (const std::string& text : {chain, nested, ternaries}) {
    auto tree = parse(text);
    ASSERT_TRUE(tree.ok());
    Program expected;
    emit(**tree, expected);
    Program fast;
    size_t fast_depth = 0;
    ASSERT_TRUE(compile_fast(text, fast, fast_depth));
    EXPECT_TRUE(programs_equal(fast, expected));
    EXPECT_EQ(fast_depth, depth_of(**tree));
    auto compiled = compile_str(text, 1024);
    ASSERT_TRUE(compiled.ok()) << compiled.error();
    EXPECT_TRUE(programs_equal(*compiled, expected));
    EXPECT_LE(compiled->capacity(), 2 * compiled->size() + 64);
    const size_t depth = depth_of(**tree);
    auto refused = compile_str(text, depth - 1);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), "Parse error: expression nesting depth " + std::to_string(depth) + " exceeds max_depth " +
                                   std::to_string(depth - 1));
  }
}

}  // namespace
}  // namespace vexlor
