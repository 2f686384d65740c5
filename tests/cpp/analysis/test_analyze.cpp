// The analysis on compiled formulas: its bounds against runs at the domain's
// edges, exact intervals where no rounding happens, and witnesses that fail.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "analysis/analyze.hpp"
#include "analysis/witness.hpp"
#include "compiler/compiler.hpp"

namespace vexlor::analysis {
namespace {

Decimal d(const char* text) { return *Decimal::from_str(text); }

Report analyze_text(const char* text, std::vector<VarDomain> domains) {
  const auto program = compile_str(text, 64);
  EXPECT_TRUE(program.ok()) << text;
  return analyze(*program, domains);
}

VarDomain dom(const char* name, const char* lo, const char* hi, uint8_t scale) {
  return VarDomain{name, Interval::range(d(lo), d(hi), 0, scale, false), {}, false};
}

TEST(Analyze, ExactBoundsAndGasWithoutRounding) {
  struct Case {
    const char* text;
    const char* lo;
    const char* hi;
    uint64_t gas;
  } cases[] = {
      {"a + b * 2", "-30", "30", 9},
      {"a - b", "-20", "20", 5},
      {"(a + 1) * (b - 3)", "-143", "117", 13},
      {"max(a, b) - min(a, 3)", "-13", "20", 13},
      {"a > b ? a : b", "-10", "10", 6},
      {"a ^ 2", "0", "100", 5},
      {"a > 0 ? b / a : 0", "-1000", "1000", 10},  // the branch rules out a zero divisor: a >= 0.01
      {"a == 0 ? 0 : 20 // a", "-2000", "2000", 9},
  };
  for (const auto& c : cases) {
    const Report r = analyze_text(c.text, {dom("a", "-10", "10", 2), dom("b", "-10", "10", 2)});
    ASSERT_TRUE(r.has_result) << c.text;
    EXPECT_EQ(r.result.lo, d(c.lo)) << c.text << " " << r.result.lo.to_string();
    EXPECT_EQ(r.result.hi, d(c.hi)) << c.text << " " << r.result.hi.to_string();
    EXPECT_EQ(r.gas, c.gas) << c.text;
    EXPECT_TRUE(r.failures.empty()) << c.text;
  }
}

TEST(Analyze, FailuresAndWitnesses) {
  struct Case {
    const char* text;
    FailureKind kind;
    const char* message;
  } cases[] = {
      {"price / qty", FailureKind::DivisionByZero, "Division by zero"},
      {"price / (qty - 3)", FailureKind::DivisionByZero, "Division by zero"},
      {"price * 10000000000000000000000000", FailureKind::Overflow,
       "Multiplication overflow: result out of Decimal range"},
      {"sqrt(price - 50)", FailureKind::RuntimeError, "Runtime error: Cannot calculate square root of negative number: "},
      {"round(price, qty - 5)", FailureKind::InvalidDecimalConversion, "Invalid Decimal conversion: Cannot convert "},
      {"nosuch(price)", FailureKind::FunctionNotFound, "Function not found: nosuch"},
      {"max()", FailureKind::InvalidArgumentCount, "Invalid argument count: expected 1, got 0"},
  };
  const std::vector<VarDomain> doms = {dom("price", "0", "10000", 2), dom("qty", "0", "100", 0)};
  for (const auto& c : cases) {
    const auto program = compile_str(c.text, 64);
    ASSERT_TRUE(program.ok());
    const Report r = analyze(*program, doms);
    ASSERT_EQ(r.failures.size(), 1u) << c.text;
    EXPECT_EQ(r.failures[0].kind, c.kind) << c.text;
    EXPECT_EQ(r.failures[0].message, c.message) << c.text;
    const auto names = program_variables(*program);
    const auto w = find_witnesses(*program, names, doms, r.failures, 500);
    EXPECT_TRUE(w[0] != nullptr) << c.text;
  }
}

TEST(Analyze, ProgramsFromJson) {
  // A backward jump: no gas bound, the loop guard listed; malformed stacks.
  const auto loop = read_json(R"([{"PushConst":"1"},{"Jump":0}])");
  ASSERT_TRUE(loop.ok());
  const Report r = analyze(*loop, {});
  EXPECT_FALSE(r.gas.has_value());
  EXPECT_TRUE(std::any_of(r.failures.begin(), r.failures.end(),
                          [](const FailureSite& f) { return f.kind == FailureKind::LoopLimit; }));
  const auto under = read_json(R"([{"PushConst":"1"},"Add"])");
  const Report u = analyze(*under, {});
  ASSERT_EQ(u.failures.size(), 1u);
  EXPECT_EQ(u.failures[0].kind, FailureKind::StackUnderflow);
  EXPECT_EQ(*u.gas, 4u);
  const Report e = analyze(Program{}, {});
  ASSERT_EQ(e.failures.size(), 1u);
  EXPECT_EQ(e.failures[0].message, "Runtime error: Invalid stack size at end: 0");
}

}  // namespace
}  // namespace vexlor::analysis
