#pragma once
// One run of a program, recorded instruction by instruction.
//
//   Trace t = vexlor::trace_run(program, context, gas);
//   // t.outcome: what vexlor::run(program, context, gas) gives, error for error
//   // t.steps[i]: an instruction run, its operands and result, the gas used so far
//
// The run is the virtual machine's own (run_traced), so every value, rounding,
// error and gas charge is the one an ordinary run makes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "compiler/bytecode.hpp"
#include "decimal/decimal.hpp"
#include "util/expected.hpp"
#include "vm/vm.hpp"

namespace vexlor {

struct TraceStep {
  enum class Branch : uint8_t { None, Then, Else };
  Decimal output;  // the value it pushed, when has_output
  uint64_t gas = 0;  // gas used once the step ran (for a failing step: when the run ended)
  size_t index = 0;        // the instruction's index in the program
  size_t first_input = 0;  // its operands: values[first_input .. first_input + input_count), the top of stack last
  uint32_t input_count = 0;
  bool has_output = false;  // false for jumps and for the step that failed
  // A JumpIfFalse: Then when its operand was non-zero (the run went on to the
  // next instruction), Else when it jumped.
  Branch branch = Branch::None;
};

struct Trace {
  std::vector<TraceStep> steps;
  std::vector<Decimal> values;  // the steps' operands
  // The run's result or error; empty only when out_of_memory.
  std::optional<Expected<Decimal, VmError>> outcome;
  uint64_t gas = 0;  // gas used by the whole run, with or without a limit
  bool out_of_memory = false;  // recording ran out of memory: nothing above is complete
};

// Runs `program` once under `gas` (none: no limit), recording every step.
Trace trace_run(const Program& program, const VmContext& context, std::optional<uint64_t> gas);

// How many values instruction `op` takes from the stack.
size_t operand_count(const OpCode& op);

// A readable text of an instruction: "PushConst 2.50", "LoadVar a", "Add",
// "JumpIfFalse 9", "Jump 13", "Call max 2" (name and argument count).
std::string instruction_text(const OpCode& op);

}  // namespace vexlor
