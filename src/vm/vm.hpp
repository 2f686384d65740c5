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
// limit nothing else would bound them. From its first backward jump on, a run
// without a limit, or with one above LOOP_WORK_BUDGET, may do at most
// LOOP_WORK_BUDGET units of work: each instruction counts its gas cost, and a Pow
// or a Call counts LOOP_HEAVY_WORK more (plus one per Call argument), since those
// can take far longer than their gas suggests. Exceeding the budget ends the run
// with a RuntimeError whose message is LOOP_LIMIT_MESSAGE. A limit of at most
// LOOP_WORK_BUDGET bounds the run by itself (every instruction costs at least 1),
// so there gas alone decides. Either way the value stack stays below the program
// length plus LOOP_WORK_BUDGET values. Programs that never jump backwards
// (everything the compiler makes) never meet the guard.
inline constexpr uint64_t LOOP_WORK_BUDGET = 1'000'000;
inline constexpr uint64_t LOOP_HEAVY_WORK = 1'000;
inline constexpr const char* LOOP_LIMIT_MESSAGE =
    "Loop limit exceeded: a program that jumps backwards may do at most 1000000 units of work after its first "
    "backward jump";

namespace vm_loop {
inline constexpr size_t SHORT_PROGRAM = 64;
inline constexpr uint64_t MAX_FIXED_COST = 3;  // the largest gas cost of an instruction other than Pow

// Free: no gas limit. Metered: the caller's limit. Charged: a limit of at least
// MAX_FIXED_COST per instruction, which no instruction but Pow can exhaust before
// a backward jump (until then each instruction runs at most once): gas is counted
// without tests, and a Pow hands over to Resumed. Resumed: Metered, continuing a
// run. Guarded: after a backward jump, the caller's limit (if any) and the loop
// work budget.
// Traced: run_traced's loop (below), which never fuses instructions.
enum class Mode { Free, Metered, Charged, Resumed, Guarded, Traced };

// The instruction loop of a mode; `bounded`: for programs of at most
// SHORT_PROGRAM instructions. `from` is the run's VmContext (a resumed or
// guarded loop gets its state from elsewhere); `code` the program's
// instructions, followed by its end marker; `gas` the limit (0 without one).
template <Mode mode, bool bounded>
Expected<Decimal, VmError> execute(const void* from, const OpCode* code, size_t len, uint64_t gas,
                                   uint64_t* gas_used);
#define VEXLOR_RUN_LOOP(mode, bounded)                                                                   \
  extern template Expected<Decimal, VmError> execute<Mode::mode, bounded>(const void*, const OpCode*, size_t, \
                                                                          uint64_t, uint64_t*);
VEXLOR_RUN_LOOP(Free, true)
VEXLOR_RUN_LOOP(Free, false)
VEXLOR_RUN_LOOP(Charged, true)
VEXLOR_RUN_LOOP(Charged, false)
VEXLOR_RUN_LOOP(Metered, true)
VEXLOR_RUN_LOOP(Metered, false)
VEXLOR_RUN_LOOP(Traced, false)
#undef VEXLOR_RUN_LOOP

// The outcome of running a program without instructions.
[[gnu::cold]] Expected<Decimal, VmError> empty_program(uint64_t* gas_used);

template <Mode mode>
inline Expected<Decimal, VmError> loop(const VmContext& context, const Program& program, uint64_t gas,
                                       uint64_t* gas_used) {
  const size_t len = program.size();
  if (len <= SHORT_PROGRAM) return execute<mode, true>(&context, program.data(), len, gas, gas_used);
  return execute<mode, false>(&context, program.data(), len, gas, gas_used);
}
}  // namespace vm_loop

// Executes `program`. `gas`: the limit, or none for no metering. `gas_used`, when
// given, receives the gas charged against the caller's limit (0 without one).
// Inline: the call goes straight to the loop that fits the program and the limit.
// Without a limit the gas used is 0, reported here: the free loop reports none.
inline Expected<Decimal, VmError> run(const Program& program, const VmContext& context,
                                      std::optional<uint64_t> gas, uint64_t* gas_used = nullptr) {
  using namespace vm_loop;
  if (program.empty()) [[unlikely]]
    return empty_program(gas_used);
  if (!gas) {
    if (gas_used != nullptr) *gas_used = 0;
    return loop<Mode::Free>(context, program, 0, nullptr);
  }
  if (*gas / MAX_FIXED_COST >= program.size()) return loop<Mode::Charged>(context, program, *gas, gas_used);
  return loop<Mode::Metered>(context, program, *gas, gas_used);
}

// What a traced run shows its hook: the index of the instruction about to run
// (the program's length once the run ends without error), the value stack from
// `base` to `top` (exclusive, the top value last), and the gas used so far (also
// counted without a limit).
struct StepView {
  size_t pc;
  const Decimal* base;
  const Decimal* top;
  uint64_t gas;
};
// False stops the run with a RuntimeError (the hook ran out of memory).
using StepHook = bool (*)(void* arg, const StepView& view);

// Executes `program` as run() does, with the same outcome, and calls `hook`
// before each instruction and once more at the end of a run that succeeds (or
// fails at the final stack check). Instructions that run() would fuse run one by
// one here, with the same values and gas. `gas_used` receives the gas used, with
// or without a limit.
Expected<Decimal, VmError> run_traced(const Program& program, const VmContext& context, std::optional<uint64_t> gas,
                                      StepHook hook, void* arg, uint64_t* gas_used);

}  // namespace vexlor
