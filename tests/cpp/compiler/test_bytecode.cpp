#include <gtest/gtest.h>

#include <utility>

#include "compiler/bytecode.hpp"

namespace vexlor {
namespace {

Decimal dec(int64_t coefficient, uint32_t scale) {
  return Decimal::from_parts(static_cast<uint64_t>(coefficient < 0 ? -coefficient : coefficient), 0, scale,
                             coefficient < 0);
}

const UuidBytes SAMPLE = {0x12, 0x3e, 0x45, 0x67, 0xe8, 0x9b, 0x12, 0xd3,
                          0xa4, 0x56, 0x42, 0x66, 0x14, 0x17, 0x40, 0x00};

TEST(BytecodeTest, VariantNamesInDeclaredOrder) {
  const char* expected[] = {"PushConst", "LoadVar", "Add", "Sub", "Mul", "Div", "FloorDiv", "Mod",
                            "Pow",       "Neg",     "Pos", "Not", "And", "Or",  "Eq",       "Ne",
                            "Lt",        "Le",      "Gt",  "Ge",  "Jump", "JumpIfFalse", "Call"};
  ASSERT_EQ(OP_NAMES.size(), 23u);
  for (size_t i = 0; i < 23; ++i) {
    EXPECT_EQ(OP_NAMES[i], expected[i]);
    EXPECT_EQ(op_name(static_cast<OpKind>(i)), expected[i]);
  }
  EXPECT_EQ(OpCode(OpKind::Ge).name(), "Ge");
  EXPECT_TRUE(op_has_no_operand(OpKind::Add));
  EXPECT_TRUE(op_has_no_operand(OpKind::Ge));
  EXPECT_FALSE(op_has_no_operand(OpKind::LoadVar));
  EXPECT_FALSE(op_has_no_operand(OpKind::Jump));
}

TEST(BytecodeTest, Operands) {
  const OpCode c = OpCode::push_const(dec(150, 2));
  EXPECT_EQ(c.kind(), OpKind::PushConst);
  EXPECT_TRUE(c.constant().same_repr(dec(150, 2)));
  const OpCode v = OpCode::load_var(VarId::name("x"));
  EXPECT_EQ(v.var(), VarId::name("x"));
  EXPECT_EQ(v.var_hash(), VarId::name("x").hash());
  EXPECT_EQ(OpCode::jump(7).target(), 7u);
  EXPECT_EQ(OpCode::jump_if_false(9).target(), 9u);
  const OpCode call = OpCode::call("max", 3);
  EXPECT_EQ(call.call_name(), "max");
  EXPECT_EQ(call.arg_count(), 3u);
  EXPECT_EQ(call.call_slot(), function_slot("max"));
  EXPECT_EQ(OpCode::call("Max", 1).call_slot(), NO_FUNCTION_SLOT);
  EXPECT_LE(sizeof(OpCode), 24u);
}

TEST(BytecodeTest, FunctionSlots) {
  for (size_t i = 0; i < FUNCTION_SLOT_COUNT; ++i) EXPECT_EQ(function_slot(FUNCTION_SLOT_NAMES[i]), i);
  EXPECT_EQ(function_slot("multiply"), NO_FUNCTION_SLOT);
  EXPECT_EQ(function_slot(""), NO_FUNCTION_SLOT);
}

TEST(BytecodeTest, InstructionEquality) {
  struct Case {
    OpCode a;
    OpCode b;
    bool equal;
  };
  const Case cases[] = {
      {OpCode::push_const(dec(10, 1)), OpCode::push_const(dec(1, 0)), true},     // 1.0 == 1
      {OpCode::push_const(dec(0, 0)), OpCode::push_const(-dec(0, 3)), true},     // -0.000 == 0
      {OpCode::push_const(dec(1, 0)), OpCode::push_const(dec(-1, 0)), false},
      {OpCode::push_const(dec(1, 0)), OpCode(OpKind::Add), false},
      {OpCode::load_var(VarId::name("a")), OpCode::load_var(VarId::name("a")), true},
      {OpCode::load_var(VarId::name("a")), OpCode::load_var(VarId::name("A")), false},
      {OpCode::load_var(VarId::uuid(SAMPLE)), OpCode::load_var(VarId::uuid(SAMPLE)), true},
      {OpCode::load_var(VarId::name("123e4567-e89b-12d3-a456-426614174000")), OpCode::load_var(VarId::uuid(SAMPLE)),
       false},
      {OpCode::jump(3), OpCode::jump(3), true},
      {OpCode::jump(3), OpCode::jump(4), false},
      {OpCode::jump(3), OpCode::jump_if_false(3), false},
      {OpCode::jump_if_false(5), OpCode::jump_if_false(5), true},
      {OpCode::call("max", 2), OpCode::call("max", 2), true},
      {OpCode::call("max", 2), OpCode::call("max", 3), false},
      {OpCode::call("max", 2), OpCode::call("min", 2), false},
      {OpCode::call("nope", 0), OpCode::call("nope", 0), true},
      {OpCode(OpKind::Add), OpCode(OpKind::Add), true},
      {OpCode(OpKind::Add), OpCode(OpKind::Sub), false},
      {OpCode(OpKind::Ge), OpCode(OpKind::Ge), true},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(cases[i].a == cases[i].b, cases[i].equal) << "case " << i;
    EXPECT_EQ(cases[i].b == cases[i].a, cases[i].equal) << "case " << i;
  }
}

TEST(BytecodeTest, ProgramEquality) {
  const Program one_point_zero = {OpCode::push_const(dec(10, 1)), OpCode::push_const(dec(2, 0)), OpCode(OpKind::Add)};
  const Program one = {OpCode::push_const(dec(1, 0)), OpCode::push_const(dec(2, 0)), OpCode(OpKind::Add)};
  EXPECT_TRUE(programs_equal(one_point_zero, one));
  const Program prefix = {OpCode::push_const(dec(1, 0)), OpCode::push_const(dec(2, 0))};
  EXPECT_FALSE(programs_equal(prefix, one));
  EXPECT_FALSE(programs_equal(one, prefix));
  EXPECT_TRUE(programs_equal(Program{}, Program{}));
  const Program other_op = {OpCode::push_const(dec(1, 0)), OpCode::push_const(dec(2, 0)), OpCode(OpKind::Sub)};
  EXPECT_FALSE(programs_equal(one, other_op));
}

TEST(BytecodeTest, CopiesAreDeepAndMovesTransfer) {
  Program p = {OpCode::load_var(VarId::name("x")), OpCode::call("round", 2), OpCode::push_const(dec(5, 1))};
  Program copy = p;
  EXPECT_TRUE(programs_equal(p, copy));
  p[0] = OpCode::load_var(VarId::name("y"));
  p[1] = OpCode(OpKind::Neg);
  EXPECT_EQ(copy[0].var(), VarId::name("x"));
  EXPECT_EQ(copy[1].call_name(), "round");
  OpCode moved = std::move(copy[1]);
  EXPECT_EQ(moved.call_name(), "round");
  OpCode assigned(OpKind::Add);
  assigned = moved;
  EXPECT_EQ(assigned, moved);
  assigned = assigned;  // self-assignment keeps the operand
  EXPECT_EQ(assigned.call_name(), "round");
  Program grown;
  for (int i = 0; i < 100; ++i) {
    std::string name = "v";
    name += std::to_string(i);
    grown.push_back(OpCode::load_var(VarId::name(name)));
  }
  EXPECT_EQ(grown[57].var(), VarId::name("v57"));
}

}  // namespace
}  // namespace vexlor
