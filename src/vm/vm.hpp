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

// Gas available to a run from its first backward jump on (only programs rebuilt
// from JSON can jump backwards). It applies with and without a caller's limit; a
// run that exceeds it fails with LOOP_LIMIT_MESSAGE as a RuntimeError. Programs
// that never jump backwards never meet it.
inline constexpr uint64_t LOOP_GAS_BUDGET = 1'000'000;
inline constexpr const char* LOOP_LIMIT_MESSAGE =
    "Loop limit exceeded: a program that jumps backwards may spend at most 1000000 gas after its first "
    "backward jump";

// Executes `program`. `gas`: the limit, or none for no metering. `gas_used`, when
// given, receives the gas charged against the caller's limit (0 without one).
Expected<Decimal, VmError> run(std::span<const OpCode> program, const VmContext& context,
                               std::optional<uint64_t> gas, uint64_t* gas_used = nullptr);

}  // namespace vexlor
