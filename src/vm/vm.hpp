#pragma once
// The virtual machine: runs a program against a context under an optional gas
// limit. Public header of the vm module (errors, context, run).

#include <cstddef>
#include <cstdint>
#include <optional>

#include "compiler/bytecode.hpp"
#include "decimal/decimal.hpp"
#include "util/expected.hpp"
#include "vm/context.hpp"
#include "vm/errors.hpp"

namespace vexlor {

// Loop guard. Only programs rebuilt from JSON can jump backwards; without a gas
// limit nothing else would bound them. From its first backward jump on, a run may
// do at most LOOP_WORK_BUDGET units of work, with or without a caller's limit:
// each instruction counts its gas cost, and a Pow or a Call counts
// LOOP_HEAVY_WORK more (plus one per Call argument), since those can take far
// longer than their gas suggests. Exceeding the budget ends the run with a
// RuntimeError whose message is LOOP_LIMIT_MESSAGE. The value stack therefore stays
// below the program length plus LOOP_WORK_BUDGET values. Programs that never jump
// backwards (everything the compiler makes) never meet the guard.
inline constexpr uint64_t LOOP_WORK_BUDGET = 1'000'000;
inline constexpr uint64_t LOOP_HEAVY_WORK = 1'000;
inline constexpr const char* LOOP_LIMIT_MESSAGE =
    "Loop limit exceeded: a program that jumps backwards may do at most 1000000 units of work after its first "
    "backward jump";

namespace vm_loop {
// The instruction loops, by [program of at most SHORT_PROGRAM instructions][no
// gas limit, a limit of at least MAX_FIXED_COST per instruction, any other limit].
// `context` is the run's VmContext; `code` the program's instructions followed by
// its end marker; `gas` the limit (0 without one).
using Loop = Expected<Decimal, VmError> (*)(const void* context, const OpCode* code, size_t len, uint64_t gas,
                                            uint64_t* gas_used);
inline constexpr size_t SHORT_PROGRAM = 64;
inline constexpr uint64_t MAX_FIXED_COST = 3;  // the largest gas cost of an instruction other than Pow
extern const Loop LOOPS[2][3];
inline size_t metering(std::optional<uint64_t> gas, size_t len) {
  if (!gas) return 0;
  return *gas / MAX_FIXED_COST >= len ? 1 : 2;
}
}  // namespace vm_loop

// Executes `program`. `gas`: the limit, or none for no metering. `gas_used`, when
// given, receives the gas charged against the caller's limit (0 without one).
// Inline: the call goes straight to the loop that fits the program and the limit.
// Without a limit the gas used is 0, reported here: the free loop reports none.
inline Expected<Decimal, VmError> run(const Program& program, const VmContext& context,
                                      std::optional<uint64_t> gas, uint64_t* gas_used = nullptr) {
  if (!gas && gas_used != nullptr) *gas_used = 0;
  return vm_loop::LOOPS[program.size() <= vm_loop::SHORT_PROGRAM][vm_loop::metering(gas, program.size())](
      &context, program.code_with_end(), program.size(), gas.value_or(0), gas ? gas_used : nullptr);
}

}  // namespace vexlor
