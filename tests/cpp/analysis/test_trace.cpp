// trace_run against run on random programs, well-formed or not (loops, stack
// underflow, unknown functions, missing variables): the same outcome, the same
// gas, and steps that account for it. (Programs the compiler makes are compared
// with evaluate, value by value, in tests/python/test_explain.py.)

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "analysis/trace.hpp"
#include "compiler/compiler.hpp"
#include "vm/vm.hpp"

namespace vexlor {
namespace {

constexpr const char* VALUES[] = {"0", "1", "-1", "2", "0.5", "-2.50", "3", "7.25", "1000000000000000", "0.0000001",
                                  "79228162514264337593543950335"};
constexpr const char* FUNCTIONS[] = {"max", "min", "round", "sqrt", "abs", "sum", "average", "nope"};

Program random_program(std::mt19937_64& rng, bool loops) {
  Program program;
  const size_t n = 1 + rng() % 24;
  for (size_t i = 0; i < n; ++i) {
    const unsigned pick = rng() % 10;
    if (pick < 3) {
      program.push_back(OpCode::push_const(*Decimal::from_str(VALUES[rng() % std::size(VALUES)])));
    } else if (pick < 5) {
      program.push_load_var_name(std::string(1, static_cast<char>('a' + rng() % 3)));  // c is missing
    } else if (pick < 6) {
      const size_t target = loops ? rng() % (n + 1) : i + 1 + rng() % (n - i);
      program.push_back(rng() % 2 ? OpCode::jump(target) : OpCode::jump_if_false(target));
    } else if (pick < 7) {
      program.push_call(FUNCTIONS[rng() % std::size(FUNCTIONS)], rng() % 4);
    } else {
      program.emplace_back(static_cast<OpKind>(2 + rng() % 18));  // Add .. Ge
    }
  }
  return program;
}

TEST(TraceRun, AgreesWithRun) {
  std::mt19937_64 rng(2024);
  VmContext context;
  context.variables.insert_or_assign_name("a", *Decimal::from_str("12.5"));
  context.variables.insert_or_assign_name("b", *Decimal::from_str("-3"));
  const std::optional<uint64_t> limits[] = {std::nullopt, 0, 7, 40, 5000};
  for (int round = 0; round < 4000; ++round) {
    const bool loops = round % 4 == 0;
    const Program program = random_program(rng, loops);
    for (std::optional<uint64_t> gas : limits) {
      if (loops && !gas) continue;  // the loop guard's million steps: too long for a unit test
      uint64_t used = 0;
      const auto expected = run(program, context, gas, &used);
      const Trace trace = trace_run(program, context, gas);
      ASSERT_FALSE(trace.out_of_memory);
      const auto& got = *trace.outcome;
      ASSERT_EQ(got.ok(), expected.ok()) << write_json(program);
      if (expected.ok()) {
        EXPECT_EQ(got->to_string(), expected->to_string()) << write_json(program);
      } else {
        EXPECT_EQ(got.error(), expected.error()) << write_json(program);
      }
      if (gas) {
        EXPECT_EQ(trace.gas, used) << write_json(program);
      }
      uint64_t before = 0;
      for (const TraceStep& step : trace.steps) {
        ASSERT_LT(step.index, program.size());
        EXPECT_GE(step.gas, before);
        before = step.gas;
      }
      EXPECT_EQ(before, trace.gas) << write_json(program);
    }
  }
}

}  // namespace
}  // namespace vexlor
