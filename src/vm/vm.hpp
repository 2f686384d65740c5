#pragma once
// The virtual machine: runs a program against a context under an optional gas
// limit. Public header of the vm module (errors, context, run).

#include <cstdint>
#include <optional>
#include <span>

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

// Executes `program`. `gas`: the limit, or none for no metering. `gas_used`, when
// given, receives the gas charged against the caller's limit (0 without one).
Expected<Decimal, VmError> run(std::span<const OpCode> program, const VmContext& context,
                               std::optional<uint64_t> gas, uint64_t* gas_used = nullptr);

}  // namespace vexlor
