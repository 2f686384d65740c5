// Programs keep the operand blocks of LoadVar and Call in their own storage:
// copies, moves, assignments and growth must still behave as for a vector of
// self-contained instructions.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "compiler/compiler.hpp"

namespace vexlor {
namespace {

const UuidBytes SAMPLE = {0x12, 0x3e, 0x45, 0x67, 0xe8, 0x9b, 0x12, 0xd3,
                          0xa4, 0x56, 0x42, 0x66, 0x14, 0x17, 0x40, 0x00};

// Names that stay inside a string's own buffer and names that need the heap.
const char* const TEXT =
    "short + a_name_longer_than_sixteen_bytes * {123e4567-e89b-12d3-a456-426614174000} - "
    "max(round(x, 2), another_quite_long_function_argument) ? min(y) : z";

Program compiled(std::string_view text) {
  auto program = compile_str(text, 64);
  EXPECT_TRUE(program.ok()) << text;
  return std::move(program).value();
}

// The same program built from self-contained instructions.
Program built_by_hand() {
  return Program{OpCode::load_var(VarId::name("short")),
                 OpCode::load_var(VarId::name("a_name_longer_than_sixteen_bytes")),
                 OpCode::load_var(VarId::uuid(SAMPLE)),
                 OpCode(OpKind::Mul),
                 OpCode::load_var(VarId::name("x")),
                 OpCode::push_const(Decimal::from_parts(2, 0, 0, false)),
                 OpCode::call("round", 2),
                 OpCode::load_var(VarId::name("another_quite_long_function_argument")),
                 OpCode::call("max", 2),
                 OpCode(OpKind::Sub),
                 OpCode(OpKind::Add),
                 OpCode::jump_if_false(15),
                 OpCode::load_var(VarId::name("y")),
                 OpCode::call("min", 1),
                 OpCode::jump(16),
                 OpCode::load_var(VarId::name("z"))};
}

TEST(ProgramStorageTest, CompiledEqualsHandBuilt) {
  const Program program = compiled(TEXT);
  const Program expected = built_by_hand();
  EXPECT_TRUE(programs_equal(program, expected));
  EXPECT_EQ(program, expected);
  EXPECT_EQ(program[1].var_operand().hash, VarId::name("a_name_longer_than_sixteen_bytes").hash());
  EXPECT_EQ(program[2].var_operand().packed, pack_var_id(VarId::uuid(SAMPLE)));
  EXPECT_EQ(program[8].call_slot(), function_slot("max"));
}

TEST(ProgramStorageTest, CopiesAreIndependentOfTheOriginal) {
  auto original = std::make_unique<Program>(compiled(TEXT));
  Program copy(*original);
  Program assigned;
  assigned = *original;
  original.reset();  // the copies must not point into the original's storage
  EXPECT_EQ(copy, built_by_hand());
  EXPECT_EQ(assigned, built_by_hand());
  EXPECT_EQ(copy[1].var().name_text(), "a_name_longer_than_sixteen_bytes");
  EXPECT_EQ(assigned[7].var().name_text(), "another_quite_long_function_argument");
}

TEST(ProgramStorageTest, MovesTransferAndSelfAssignmentKeeps) {
  Program source = compiled(TEXT);
  const OpCode* storage = source.data();
  Program moved(std::move(source));
  EXPECT_EQ(moved.data(), storage);
  EXPECT_EQ(source.size(), 0u);  // NOLINT(bugprone-use-after-move): a moved-from program is empty
  Program target = compiled("a + b");
  target = std::move(moved);
  EXPECT_EQ(target, built_by_hand());

  Program& alias = target;
  target = alias;
  EXPECT_EQ(target, built_by_hand());
  target = std::move(alias);
  EXPECT_EQ(target, built_by_hand());

  source = target;  // a moved-from program can be assigned again
  EXPECT_EQ(source, target);
}

TEST(ProgramStorageTest, InstructionsTakenOutOfAProgramOwnTheirOperands) {
  auto program = std::make_unique<Program>(compiled(TEXT));
  OpCode copied = (*program)[1];
  OpCode moved = std::move((*program)[8]);  // copies the operand: the program keeps its own
  EXPECT_EQ((*program)[8].call_name(), "max");
  program.reset();
  EXPECT_EQ(copied.var(), VarId::name("a_name_longer_than_sixteen_bytes"));
  EXPECT_EQ(moved.call_name(), "max");
  EXPECT_EQ(moved.arg_count(), 2u);
}

TEST(ProgramStorageTest, OverwritingInstructionsInPlace) {
  Program program = compiled(TEXT);
  program[0] = OpCode::load_var(VarId::name("replaced_by_a_long_enough_name"));
  program[1] = program[2];             // an operand of the same program
  program[2] = std::move(program[6]);  // likewise, moved
  program[3] = OpCode::call("sum", 4);
  program[6] = OpCode(OpKind::Neg);
  program[8] = program[8];  // self-assignment
  EXPECT_EQ(program[0].var(), VarId::name("replaced_by_a_long_enough_name"));
  EXPECT_EQ(program[1].var(), VarId::uuid(SAMPLE));
  EXPECT_EQ(program[2].call_name(), "round");
  EXPECT_EQ(program[3].call_slot(), function_slot("sum"));
  EXPECT_EQ(program[6].kind(), OpKind::Neg);
  EXPECT_EQ(program[8].call_name(), "max");
  const Program copy = program;
  EXPECT_EQ(copy, program);
}

TEST(ProgramStorageTest, GrowthKeepsOperandsInPlace) {
  Program program;
  program.reserve(2, 1, 0);
  std::vector<const LoadVarOperand*> blocks;
  for (int i = 0; i < 300; ++i) {
    const std::string name = (i % 3 == 0 ? "long_variable_name_number_" : "v") + std::to_string(i);
    program.push_load_var_name(name);
    blocks.push_back(&program.back().var_operand());
    if (i % 7 == 0) program.push_call("f" + std::to_string(i), static_cast<size_t>(i));
    if (i % 11 == 0) program.push_back(program[0]);  // an instruction of the program itself, while it grows
  }
  size_t seen = 0;
  for (const OpCode& op : program) {
    if (op.kind() != OpKind::LoadVar || seen == blocks.size() || &op.var_operand() != blocks[seen]) continue;
    const std::string name = (seen % 3 == 0 ? "long_variable_name_number_" : "v") + std::to_string(seen);
    EXPECT_EQ(op.var(), VarId::name(name));
    EXPECT_EQ(op.var_hash(), VarId::name_hash(name));
    ++seen;
  }
  EXPECT_EQ(seen, blocks.size());
  const Program copy = program;
  EXPECT_EQ(copy, program);
  program.clear();
  EXPECT_TRUE(program.empty());
  EXPECT_EQ(copy.size(), 300u + 43u + 28u);
}

// What the machine relies on: an end marker right after the last instruction,
// and every LoadVar carrying its variable's hash in the instruction itself.
std::string layout_fault(const Program& program) {
  if (!program.empty() && program.data()[program.size()].kind() != Program::END_MARK) return "no end marker";
  for (size_t i = 0; i < program.size(); ++i) {
    const OpCode& op = program[i];
    if (op.kind() == OpKind::LoadVar && op.var_hash() != op.var().hash()) return "hash of " + std::to_string(i);
  }
  return "";
}

TEST(ProgramStorageTest, EveryWayOfBuildingKeepsTheLayoutTheMachineReads) {
  Program grown;
  EXPECT_EQ(layout_fault(grown), "");
  for (int i = 0; i < 40; ++i) {
    switch (i % 6) {
      case 0: grown.push_load_var_name("n" + std::to_string(i)); break;
      case 1: grown.push_load_var(VarId::uuid(SAMPLE)); break;
      case 2: grown.push_back(OpCode::load_var(VarId::name("moved_in_" + std::to_string(i)))); break;
      case 3: grown.emplace_back(OpKind::LoadVar); break;  // the empty name
      case 4: grown.push_call("max", 2); break;
      default: grown.push_back(grown[0]); break;
    }
    ASSERT_EQ(layout_fault(grown), "") << i;
  }
  Program reserved;
  reserved.reserve(3, 2, 0);
  EXPECT_EQ(layout_fault(reserved), "");
  reserved.push_back(grown[1]);
  reserved.reserve(100);
  EXPECT_EQ(layout_fault(reserved), "");

  const Program copy = grown;
  Program assigned;
  assigned = copy;
  Program moved = std::move(grown);
  const Program listed{OpCode::load_var(VarId::name("x")), OpCode(OpKind::LoadVar), copy[2]};
  for (const Program* p : std::initializer_list<const Program*>{&copy, &assigned, &moved, &listed, &grown}) {
    EXPECT_EQ(layout_fault(*p), "");
  }
  EXPECT_EQ(layout_fault(compiled(TEXT)), "");
  OpCode taken = copy[0];
  EXPECT_EQ(taken.var_hash(), taken.var().hash());
  moved.clear();
  EXPECT_EQ(layout_fault(moved), "");
}

TEST(ProgramStorageTest, PackedNamesAreTheZeroPaddedBytes) {
  const std::string letters = "abcdefghijklmnopqrstu";
  for (size_t n = 0; n <= letters.size(); ++n) {
    const std::string name = letters.substr(0, n);
    unsigned char bytes[16] = {};
    std::memcpy(bytes, name.data(), n < 16 ? n : 16);
    PackedVarId expected;
    std::memcpy(&expected.w0, bytes, 8);
    std::memcpy(&expected.w1, bytes + 8, 8);
    expected.tag = uint64_t{n} << 8 | (n > 16 ? PackedVarId::LONG_NAME : 0) | static_cast<uint64_t>(VarId::Kind::Name);
    EXPECT_EQ(pack_name(name), expected) << n;
    EXPECT_EQ(pack_var_id(VarId::name(name)), expected) << n;
  }
}

TEST(ProgramStorageTest, ManyThreadsReadOneProgram) {
  const Program shared = compiled(TEXT);
  std::vector<std::thread> threads;
  std::vector<int> equal(4, 0);
  for (size_t t = 0; t < equal.size(); ++t) {
    threads.emplace_back([&shared, &equal, t] {
      for (int i = 0; i < 200; ++i) {
        Program copy = shared;
        equal[t] += copy == shared && shared[1].var().name_text() == "a_name_longer_than_sixteen_bytes";
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int count : equal) EXPECT_EQ(count, 200);
}

}  // namespace
}  // namespace vexlor
