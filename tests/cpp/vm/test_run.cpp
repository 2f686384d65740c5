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

const UuidBytes SAMPLE = {0x12, 0x3e, 0x45, 0x67, 0xe8, 0x9b, 0x12, 0xd3,
                          0xa4, 0x56, 0x42, 0x66, 0x14, 0x17, 0x40, 0x00};

std::string run_text(const Program& p, const VmContext& ctx, std::optional<uint64_t> gas = std::nullopt) {
  return test::outcome(run(p, ctx, gas));
}

VmContext sample_context() {
  VmContext ctx;
  ctx.variables.insert_or_assign(VarId::name("a"), D("1"));
  ctx.variables.insert_or_assign(VarId::name("b"), D("5"));
  ctx.variables.insert_or_assign(VarId::name("x"), D("1.50"));
  ctx.variables.insert_or_assign(VarId::uuid(SAMPLE), D("-7"));
  return ctx;
}

struct Case {
  Program program;
  const char* expected;
};

void check_table(const std::vector<Case>& cases) {
  const VmContext ctx = sample_context();
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(run_text(cases[i].program, ctx), cases[i].expected) << "case " << i;
  }
}

TEST(RunTest, InstructionEffects) {
  check_table({
      {{C("1.50")}, "ok:1.50"},
      {{V("x")}, "ok:1.50"},
      {{OpCode::load_var(VarId::uuid(SAMPLE))}, "ok:-7"},
      {{C("1"), C("2.50"), K(OpKind::Add)}, "ok:3.50"},
      {{C("10"), C("5"), C("2"), K(OpKind::Sub), K(OpKind::Sub)}, "ok:7"},  // 10 - (5 - 2)
      {{C("1"), C("2.50"), K(OpKind::Sub)}, "ok:-1.50"},
      {{C("1.5"), C("1.5"), K(OpKind::Mul)}, "ok:2.25"},
      {{C("1"), C("3"), K(OpKind::Div)}, "ok:0.3333333333333333333333333333"},
      {{C("7"), C("2"), K(OpKind::FloorDiv)}, "ok:3"},
      {{C("-7"), C("2"), K(OpKind::FloorDiv)}, "ok:-4"},
      {{C("7"), C("2"), K(OpKind::Mod)}, "ok:1"},
      {{C("-7"), C("2"), K(OpKind::Mod)}, "ok:-1"},
      {{C("2"), C("10"), K(OpKind::Pow)}, "ok:1024"},
      {{C("1.10"), C("2"), K(OpKind::Pow)}, "ok:1.2100"},
      {{C("2"), C("-1"), K(OpKind::Pow)}, "ok:0.50"},
      {{C("1.50"), K(OpKind::Neg)}, "ok:-1.50"},
      {{C("0"), K(OpKind::Neg)}, "ok:-0"},
      {{C("0"), K(OpKind::Neg), K(OpKind::Neg)}, "ok:0"},
      {{C("1.50"), K(OpKind::Pos)}, "ok:1.50"},
      {{C("0.00"), K(OpKind::Not)}, "ok:1"},
      {{C("0"), K(OpKind::Neg), K(OpKind::Not)}, "ok:1"},
      {{C("0.01"), K(OpKind::Not)}, "ok:0"},
      {{C("2"), C("3"), K(OpKind::And)}, "ok:1"},
      {{C("2"), C("0.0"), K(OpKind::And)}, "ok:0"},
      {{C("0"), C("0.0"), K(OpKind::Or)}, "ok:0"},
      {{C("0"), C("-3"), K(OpKind::Or)}, "ok:1"},
      {{C("1.0"), C("1"), K(OpKind::Eq)}, "ok:1"},
      {{C("1.0"), C("1"), K(OpKind::Ne)}, "ok:0"},
      {{C("1"), C("2"), K(OpKind::Ne)}, "ok:1"},
      {{C("1"), C("2"), K(OpKind::Lt)}, "ok:1"},
      {{C("2"), C("2.0"), K(OpKind::Lt)}, "ok:0"},
      {{C("2"), C("2.0"), K(OpKind::Le)}, "ok:1"},
      {{C("3"), C("2"), K(OpKind::Gt)}, "ok:1"},
      {{C("2"), C("3"), K(OpKind::Gt)}, "ok:0"},
      {{C("2"), C("2.00"), K(OpKind::Ge)}, "ok:1"},
      {{C("1"), C("2"), K(OpKind::Ge)}, "ok:0"},
      // Jumps: c ? 10 : 20 as compiled; targets at and beyond the end.
      {{C("1"), OpCode::jump_if_false(4), C("10"), OpCode::jump(5), C("20")}, "ok:10"},
      {{C("0.0"), OpCode::jump_if_false(4), C("10"), OpCode::jump(5), C("20")}, "ok:20"},
      {{C("1"), OpCode::jump(3), C("2")}, "ok:1"},
      {{C("1"), OpCode::jump(99), C("2")}, "ok:1"},
      {{C("1"), C("0"), OpCode::jump_if_false(99), C("2")}, "ok:1"},
      {{C("1"), C("1"), OpCode::jump_if_false(99)}, "ok:1"},  // the condition is removed either way
      {{OpCode::call("add", 0)}, "ok:0"},
      {{C("3"), C("1"), C("2"), OpCode::call("max", 3)}, "ok:3"},
      {{C("1"), C("2"), C("3"), OpCode::call("min", 2), K(OpKind::Add)}, "ok:3"},  // 1 + min(2, 3)
      {{C("2.5"), C("2"), C("1"), OpCode::call("round", 2), K(OpKind::Sub)}, "ok:0.5"},  // 2.5 - round(2, 1)
  });
}

TEST(RunTest, Failures) {
  const std::string max = "79228162514264337593543950335";
  check_table({
      {{}, "err:Runtime error: Invalid stack size at end: 0"},
      {{C("1"), C("2")}, "err:Runtime error: Invalid stack size at end: 2"},
      {{C("1"), OpCode::jump_if_false(5)}, "err:Runtime error: Invalid stack size at end: 0"},
      {{C("1"), C("2"), OpCode::jump(4), K(OpKind::Add)}, "err:Runtime error: Invalid stack size at end: 2"},
      {{V("missing")}, "err:Variable not found: missing"},
      {{V("A")}, "err:Variable not found: A"},
      {{OpCode::load_var(VarId::uuid(*parse_uuid("urn:uuid:123E4567-E89B-12D3-A456-426614174000")))}, "ok:-7"},
      {{OpCode::load_var(VarId::uuid(*parse_uuid("123E4567-E89B-12D3-A456-426614174001")))},
       "err:Variable not found: {123e4567-e89b-12d3-a456-426614174001}"},
      {{OpCode::load_var(VarId::name("123e4567-e89b-12d3-a456-426614174000"))},
       "err:Variable not found: 123e4567-e89b-12d3-a456-426614174000"},
      {{C(max), C("1"), K(OpKind::Add)}, "err:Overflow: Addition overflow: result out of Decimal range"},
      {{C(std::string("-") + max), C("1"), K(OpKind::Sub)}, "err:Overflow: Subtraction overflow: result out of Decimal range"},
      {{C(max), C("2"), K(OpKind::Mul)}, "err:Overflow: Multiplication overflow: result out of Decimal range"},
      {{C(max), C("0.1"), K(OpKind::Div)}, "err:Overflow: Division overflow: result out of Decimal range"},
      {{C(max), C("0.1"), K(OpKind::FloorDiv)}, "err:Overflow: Division overflow: result out of Decimal range"},
      {{C("1"), C("0"), K(OpKind::Div)}, "err:Division by zero"},
      {{C("1"), C("0.0"), K(OpKind::FloorDiv)}, "err:Division by zero"},
      {{C("1"), C("0"), K(OpKind::Neg), K(OpKind::Mod)}, "err:Division by zero"},
      {{C("10"), C("29"), K(OpKind::Pow)},
       "err:Overflow: Pow overflow: 10^29 exceeds Decimal range (max ~7.9e28)"},
      {{C("2.0"), C("100"), K(OpKind::Pow)},
       "err:Overflow: Pow overflow: 2.0^100 exceeds Decimal range (max ~7.9e28)"},
      {{C("1"), OpCode::call("Max", 1)}, "err:Function not found: Max"},
      {{C("1"), OpCode::call("nope", 2)}, "err:Stack underflow: not enough values on stack"},  // args first
      {{OpCode::call("max", 0)}, "err:Invalid argument count: expected 1, got 0"},
      {{C("1.5"), C("-1"), OpCode::call("round", 2)}, "err:Invalid Decimal conversion: Cannot convert -1 to u32"},
      {{C("0"), C("1"), K(OpKind::Div), C("1"), C("0"), K(OpKind::Div)}, "err:Division by zero"},  // first error wins
      {{V("nope"), C("1"), C("0"), K(OpKind::Div)}, "err:Variable not found: nope"},
  });
}

TEST(RunTest, StackUnderflowForEveryPoppingInstruction) {
  const VmContext ctx;
  const char* underflow = "err:Stack underflow: not enough values on stack";
  for (size_t k = static_cast<size_t>(OpKind::Add); k <= static_cast<size_t>(OpKind::Ge); ++k) {
    const OpKind kind = static_cast<OpKind>(k);
    EXPECT_EQ(run_text({K(kind)}, ctx), underflow) << op_name(kind);
    const bool unary = kind == OpKind::Neg || kind == OpKind::Pos || kind == OpKind::Not;
    if (!unary) {
      EXPECT_EQ(run_text({C("1"), K(kind)}, ctx), underflow) << op_name(kind);
    }
  }
  EXPECT_EQ(run_text({OpCode::jump_if_false(0)}, ctx), underflow);
  EXPECT_EQ(run_text({C("1"), OpCode::call("max", 2)}, ctx), underflow);
  // Division by zero is never reached when an operand is missing.
  EXPECT_EQ(run_text({C("0"), K(OpKind::Div)}, ctx), underflow);
}

TEST(RunTest, ResultKeepsScaleAndSign) {
  const VmContext ctx;
  const auto r = run(Program{C("0"), K(OpKind::Neg)}, ctx, std::nullopt);
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE(r.value().is_sign_negative());
  EXPECT_TRUE(r.value().is_zero());
  // A negative zero is falsy.
  EXPECT_EQ(run_text({C("0"), K(OpKind::Neg), OpCode::jump_if_false(4), C("1"), C("2")}, ctx), "ok:2");
}

TEST(RunTest, DeepStackGrowsPastInlineStorage) {
  const VmContext ctx;
  Program p;
  for (int i = 1; i <= 1000; ++i) p.push_back(C(std::to_string(i)));
  for (int i = 1; i < 1000; ++i) p.push_back(K(OpKind::Add));
  EXPECT_EQ(run_text(p, ctx), "ok:500500");
  EXPECT_EQ(run_text(p, ctx, 1000 + 999 * 3), "ok:500500");
  Program call;
  for (int i = 1; i <= 500; ++i) call.push_back(C(std::to_string(i)));
  call.push_back(OpCode::call("sum", 500));
  EXPECT_EQ(run_text(call, ctx), "ok:125250");
}

std::string key(int i) {
  std::string s = "v";
  s += std::to_string(i);
  return s;
}

TEST(VariableMapTest, InsertReplaceFind) {
  VariableMap m;
  EXPECT_EQ(m.find(VarId::name("a")), nullptr);
  m.insert_or_assign(VarId::name("a"), D("1"));
  m.insert_or_assign(VarId::name("a"), D("2"));
  m.insert_or_assign(VarId::uuid(SAMPLE), D("3"));
  EXPECT_EQ(m.size(), 2u);
  EXPECT_EQ(m.find(VarId::name("a"))->to_string(), "2");
  EXPECT_EQ(m.find(VarId::uuid(SAMPLE))->to_string(), "3");
  EXPECT_EQ(m.find(VarId::name("123e4567-e89b-12d3-a456-426614174000")), nullptr);
  for (int i = 0; i < 1000; ++i) m.insert_or_assign(VarId::name(key(i)), D(std::to_string(i)));
  EXPECT_EQ(m.size(), 1002u);
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(m.find(VarId::name(key(i)))->to_string(), std::to_string(i));
  size_t visited = 0;
  m.for_each([&](const VarId&, const Decimal&) { ++visited; });
  EXPECT_EQ(visited, 1002u);
}

TEST(VariableMapTest, MovesKeepEveryEntry) {
  for (const int count : {0, 3, int(VariableMap::INLINE), 40}) {
    VariableMap m;
    for (int i = 0; i < count; ++i) m.insert_or_assign(VarId::name(key(i) + std::string(20, 'x')), D(std::to_string(i)));
    VariableMap moved(std::move(m));
    EXPECT_TRUE(m.empty());
    VariableMap assigned;
    assigned.insert_or_assign(VarId::name("gone"), D("1"));
    assigned = std::move(moved);
    EXPECT_EQ(assigned.size(), static_cast<size_t>(count));
    EXPECT_EQ(assigned.find(VarId::name("gone")), nullptr);
    for (int i = 0; i < count; ++i) {
      const Decimal* v = assigned.find(VarId::name(key(i) + std::string(20, 'x')));
      ASSERT_NE(v, nullptr);
      EXPECT_EQ(v->to_string(), std::to_string(i));
    }
    assigned.clear();
    EXPECT_TRUE(assigned.empty());
  }
}

// Small maps find each key in its own bucket inline; an absent key meets an empty
// bucket or another key's, and the out-of-line probe confirms the absence.
TEST(VariableMapTest, SmallMapsFindEveryKeyAndNoOther) {
  for (size_t count = 1; count <= VariableMap::SMALL; ++count) {
    VariableMap m;
    for (size_t i = 0; i < count; ++i) m.insert_or_assign(VarId::name(key(int(i))), D(std::to_string(i)));
    for (size_t i = 0; i < count; ++i) {
      const Decimal* v = m.find(VarId::name(key(int(i))));
      ASSERT_NE(v, nullptr);
      EXPECT_EQ(v->to_string(), std::to_string(i));
    }
    for (int i = int(count); i < 200; ++i) EXPECT_EQ(m.find(VarId::name(key(i))), nullptr) << i;
    EXPECT_EQ(m.find(VarId::uuid(SAMPLE)), nullptr);
  }
}

}  // namespace
}  // namespace vexlor
