#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "vm_test_util.hpp"

namespace vexlor {
namespace {

using test::C;
using test::D;
using test::K;
using test::V;

constexpr uint64_t MAX_U64 = 18446744073709551615ULL;

VmContext ab_context() {
  VmContext ctx;
  ctx.variables.insert_or_assign(VarId::name("a"), D("1"));
  ctx.variables.insert_or_assign(VarId::name("b"), D("5"));
  return ctx;
}

struct CostCase {
  Program program;
  uint64_t cost;       // total gas of a successful or failing run
  uint64_t last_cost;  // cost of the last instruction executed
};

// A run costing exactly the limit succeeds (or fails as it would without gas);
// one unit less fails on the last instruction with that instruction's cost.
TEST(GasTest, ExactBoundaries) {
  const std::vector<CostCase> cases = {
      {{C("1")}, 1, 1},
      {{C("1"), C("2"), K(OpKind::Add)}, 5, 3},
      {{V("a"), V("b"), C("2"), K(OpKind::Mul), K(OpKind::Add)}, 9, 3},  // a + b * 2
      {{C("2"), C("10"), K(OpKind::Pow)}, 13, 11},
      {{C("2"), C("2.5"), K(OpKind::Pow)}, 6, 4},
      {{C("2"), C("-3"), K(OpKind::Pow)}, 6, 4},
      {{C("2"), C("0"), K(OpKind::Pow)}, 3, 1},
      {{C("2"), C("0.1"), K(OpKind::Pow)}, 4, 2},
      {{C("1"), C("2"), OpCode::call("max", 2)}, 5, 3},
      {{OpCode::call("add", 0)}, 3, 3},
      {{C("1"), C("2"), K(OpKind::Sub)}, 5, 3},
      {{C("1"), C("2"), K(OpKind::Div)}, 5, 3},
      {{C("7"), C("2"), K(OpKind::FloorDiv)}, 5, 3},
      {{C("7"), C("2"), K(OpKind::Mod)}, 5, 3},
      {{C("1"), K(OpKind::Neg), K(OpKind::Pos), K(OpKind::Not)}, 4, 1},
      {{C("1"), C("1"), K(OpKind::And), C("0"), K(OpKind::Or)}, 5, 1},
      {{C("1"), C("1"), K(OpKind::Eq), C("1"), K(OpKind::Ne), C("1"), K(OpKind::Lt)}, 7, 1},
      {{C("1"), C("1"), K(OpKind::Le), C("1"), K(OpKind::Gt), C("1"), K(OpKind::Ge)}, 7, 1},
      {{C("1"), OpCode::jump(3), C("2")}, 2, 1},
      {{C("0"), OpCode::jump_if_false(4), C("10"), OpCode::jump(5), C("20")}, 3, 1},
      {{C("1"), OpCode::jump_if_false(4), C("10"), OpCode::jump(5), C("20")}, 4, 1},
      // Failing runs: the gas for the failing instruction has been charged.
      {{C("1"), C("0"), K(OpKind::Div)}, 5, 3},
      {{C("1"), C("0"), K(OpKind::Mod)}, 5, 3},
      {{C("1"), K(OpKind::Add)}, 4, 3},
      {{V("zz")}, 1, 1},
      {{C("1"), C("2")}, 2, 1},
  };
  const VmContext ctx = ab_context();
  for (size_t i = 0; i < cases.size(); ++i) {
    const CostCase& c = cases[i];
    const std::string free_run = test::outcome(run(c.program, ctx, std::nullopt));
    uint64_t used = 0;
    EXPECT_EQ(test::outcome(run(c.program, ctx, c.cost, &used)), free_run) << "case " << i;
    EXPECT_EQ(used, c.cost) << "case " << i;
    EXPECT_EQ(test::outcome(run(c.program, ctx, c.cost + 100, &used)), free_run) << "case " << i;
    EXPECT_EQ(used, c.cost) << "case " << i;
    const auto short_run = run(c.program, ctx, c.cost - 1, &used);
    ASSERT_FALSE(short_run.ok()) << "case " << i;
    const VmError& e = short_run.error();
    EXPECT_EQ(e.kind(), VmError::Kind::OutOfGas) << "case " << i;
    EXPECT_EQ(e.limit(), c.cost - 1) << "case " << i;
    EXPECT_EQ(e.cost(), c.last_cost) << "case " << i;
    EXPECT_EQ(e.remaining(), c.last_cost - 1) << "case " << i;
    EXPECT_LE(used, c.cost - 1) << "case " << i;
  }
}

TEST(GasTest, PowTwoToTheTen) {
  const VmContext ctx;
  const Program p = {C("2"), C("10"), K(OpKind::Pow)};
  EXPECT_EQ(test::outcome(run(p, ctx, 13)), "ok:1024");
  EXPECT_EQ(test::outcome(run(p, ctx, 12)), "err:Out of gas: instruction cost 11 exceeds remaining 10 (limit 12)");
}

TEST(GasTest, ZeroLimit) {
  const VmContext ctx;
  EXPECT_EQ(test::outcome(run(Program{}, ctx, 0)), "err:Runtime error: Invalid stack size at end: 0");
  EXPECT_EQ(test::outcome(run(Program{C("1")}, ctx, 0)),
            "err:Out of gas: instruction cost 1 exceeds remaining 0 (limit 0)");
  EXPECT_EQ(test::outcome(run(Program{OpCode::call("add", 0)}, ctx, 0)),
            "err:Out of gas: instruction cost 3 exceeds remaining 0 (limit 0)");
  EXPECT_EQ(test::outcome(run(Program{K(OpKind::Add)}, ctx, 0)),
            "err:Out of gas: instruction cost 3 exceeds remaining 0 (limit 0)");
}

TEST(GasTest, PowOnEmptyStackCostsOne) {
  const VmContext ctx;
  EXPECT_EQ(test::outcome(run(Program{K(OpKind::Pow)}, ctx, 1)), "err:Stack underflow: not enough values on stack");
  EXPECT_EQ(test::outcome(run(Program{K(OpKind::Pow)}, ctx, 0)),
            "err:Out of gas: instruction cost 1 exceeds remaining 0 (limit 0)");
  // With one value the exponent is that value: cost 1 + 5, then underflow.
  EXPECT_EQ(test::outcome(run(Program{C("5"), K(OpKind::Pow)}, ctx, 6)),
            "err:Out of gas: instruction cost 6 exceeds remaining 5 (limit 6)");
  EXPECT_EQ(test::outcome(run(Program{C("5"), K(OpKind::Pow)}, ctx, 7)),
            "err:Stack underflow: not enough values on stack");
}

TEST(GasTest, SaturatedPowCost) {
  const VmContext ctx;
  struct Case {
    const char* exponent;
    uint64_t cost;
  };
  const Case cases[] = {
      {"18446744073709551613", MAX_U64 - 1},
      {"18446744073709551614", MAX_U64},
      {"18446744073709551615", MAX_U64},
      {"18446744073709551616", MAX_U64},
      {"-79228162514264337593543950335", MAX_U64},
      {"18446744073709551613.5", MAX_U64},
  };
  for (const Case& c : cases) {
    const Program p = {C("1.5"), C(c.exponent), K(OpKind::Pow)};
    const auto r = run(p, ctx, MAX_U64);
    ASSERT_FALSE(r.ok()) << c.exponent;
    EXPECT_EQ(r.error().kind(), VmError::Kind::OutOfGas);
    EXPECT_EQ(r.error().cost(), c.cost) << c.exponent;
    EXPECT_EQ(r.error().remaining(), MAX_U64 - 2) << c.exponent;
  }
  const auto r = run(Program{C("2"), C("18446744073709551616"), K(OpKind::Pow)}, ctx, MAX_U64);
  EXPECT_EQ(test::outcome(r),
            "err:Out of gas: instruction cost 18446744073709551615 exceeds remaining 18446744073709551613 "
            "(limit 18446744073709551615)");
  // Without a limit the power itself decides.
  EXPECT_EQ(test::outcome(run(Program{C("1"), C("18446744073709551616"), K(OpKind::Pow)}, ctx, std::nullopt)),
            "ok:1");
}

TEST(GasTest, DivisionByZeroAfterCharging) {
  const VmContext ctx;
  uint64_t used = 0;
  EXPECT_EQ(test::outcome(run(Program{C("1"), C("-0"), K(OpKind::FloorDiv)}, ctx, 10, &used)),
            "err:Division by zero");
  EXPECT_EQ(used, 5u);
}

// Programs that jump backwards (possible only when read from JSON).
TEST(LoopGuardTest, EndlessLoopsEndWithRuntimeError) {
  const VmContext ctx;
  const std::string guard = std::string("err:Runtime error: ") + LOOP_LIMIT_MESSAGE;
  EXPECT_EQ(test::outcome(run(Program{OpCode::jump(0)}, ctx, std::nullopt)), guard);
  EXPECT_EQ(test::outcome(run(Program{C("1"), OpCode::jump(0)}, ctx, std::nullopt)), guard);  // growing stack
  EXPECT_EQ(test::outcome(run(Program{C("1"), OpCode::jump_if_false(0), C("1"), OpCode::jump(1)}, ctx,
                              std::nullopt)),
            guard);
  // A caller's limit above the budget does not lift it; a smaller one ends the run first.
  EXPECT_EQ(test::outcome(run(Program{OpCode::jump(0)}, ctx, MAX_U64)), guard);
  EXPECT_EQ(test::outcome(run(Program{OpCode::jump(0)}, ctx, 2'000'000)), guard);
  EXPECT_EQ(test::outcome(run(Program{OpCode::jump(0)}, ctx, 500'000)),
            "err:Out of gas: instruction cost 1 exceeds remaining 0 (limit 500000)");
  EXPECT_EQ(test::outcome(run(Program{OpCode::jump(0)}, ctx, LOOP_WORK_BUDGET + 1)),
            "err:Out of gas: instruction cost 1 exceeds remaining 0 (limit 1000001)");
  // Within the budget gas alone decides, although calls weigh more in the guard.
  const Program calls = {C("4"), OpCode::call("floor", 1), OpCode::jump(0)};
  EXPECT_EQ(test::outcome(run(calls, ctx, 10'000)),
            "err:Out of gas: instruction cost 1 exceeds remaining 0 (limit 10000)");
  EXPECT_EQ(test::outcome(run(calls, ctx, LOOP_WORK_BUDGET)),
            "err:Out of gas: instruction cost 1 exceeds remaining 0 (limit 1000000)");
  EXPECT_EQ(test::outcome(run(calls, ctx, LOOP_WORK_BUDGET + 1)), guard);
  // A call with a huge argument count after a backward jump weighs more than the budget.
  EXPECT_EQ(test::outcome(run(Program{OpCode::jump(2), OpCode::call("sum", SIZE_MAX), C("1"), OpCode::jump(1)}, ctx,
                              std::nullopt)),
            guard);
  // Expensive powers are metered inside a loop too.
  EXPECT_EQ(test::outcome(run(Program{C("1.0001"), C("100000"), K(OpKind::Pow), OpCode::jump(0)}, ctx,
                              std::nullopt)),
            guard);
}

TEST(LoopGuardTest, FiniteBackwardJumpsRunNormally) {
  const VmContext ctx;
  // 0: Jump 3; 1: PushConst 5; 2: Jump 4 (end); 3: Jump 1.
  const Program p = {OpCode::jump(3), C("5"), OpCode::jump(4), OpCode::jump(1)};
  EXPECT_EQ(test::outcome(run(p, ctx, std::nullopt)), "ok:5");
  uint64_t used = 0;
  EXPECT_EQ(test::outcome(run(p, ctx, 4, &used)), "ok:5");
  EXPECT_EQ(used, 4u);
  EXPECT_EQ(test::outcome(run(p, ctx, 3)), "err:Out of gas: instruction cost 1 exceeds remaining 0 (limit 3)");
  EXPECT_EQ(test::outcome(run(p, ctx, MAX_U64, &used)), "ok:5");
  EXPECT_EQ(used, 4u);
  // A loop that pops its conditions: 1, 1, 1 are true, 0 ends it.
  const Program loop = {C("0"), C("1"), C("1"), C("1"), OpCode::jump_if_false(6), OpCode::jump(4), C("7")};
  EXPECT_EQ(test::outcome(run(loop, ctx, std::nullopt)), "ok:7");
  EXPECT_EQ(test::outcome(run(loop, ctx, 4 + 4 + 3 + 1, &used)), "ok:7");
  EXPECT_EQ(used, 12u);
}

}  // namespace
}  // namespace vexlor
