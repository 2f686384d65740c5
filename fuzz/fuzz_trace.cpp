// Fuzzes the traced run against the plain one on arbitrary programs read from
// bytecode JSON: the same result or error, the same gas, and steps whose gas
// never decreases and ends at the run's total. The first byte picks the gas
// limit (always one when the program can jump backwards, so that no run meets
// the loop guard's million steps), the second the variables' values; the rest
// is the program's JSON text.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/trace.hpp"
#include "compiler/compiler.hpp"
#include "vm/vm.hpp"

namespace {

[[noreturn]] void fail(const char* what, std::string_view json) {
  std::fprintf(stderr, "invariant violated: %s\nprogram: %.*s\n", what, static_cast<int>(std::min<size_t>(json.size(), 400)),
               json.data());
  std::abort();
}

constexpr const char* VALUES[] = {"0", "1", "-2.5", "0.0000001", "79228162514264337593543950335", "3"};
constexpr uint64_t LIMITS[] = {0, 1, 5, 30, 200, 5000, 100000};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string_view json(reinterpret_cast<const char*>(data) + 2, size - 2);
  auto program = vexlor::read_json(json);
  if (!program.ok()) return 0;
  bool backward = false;
  for (size_t i = 0; i < program->size(); ++i) {
    const vexlor::OpCode& op = (*program)[i];
    if ((op.kind() == vexlor::OpKind::Jump || op.kind() == vexlor::OpKind::JumpIfFalse) && op.target() <= i) {
      backward = true;
    }
  }
  std::optional<uint64_t> gas;
  if (data[0] % 8 < 7) gas = LIMITS[data[0] % 8];
  else if (!backward) gas = std::nullopt;
  else gas = LIMITS[6];
  vexlor::VmContext context;
  context.variables.insert_or_assign_name("a", *vexlor::Decimal::from_str(VALUES[data[1] % 6]));
  context.variables.insert_or_assign_name("b", *vexlor::Decimal::from_str(VALUES[(data[1] / 6) % 6]));

  uint64_t used = 0;
  const auto expected = vexlor::run(*program, context, gas, &used);
  const vexlor::Trace trace = vexlor::trace_run(*program, context, gas);
  if (trace.out_of_memory) return 0;
  const auto& got = *trace.outcome;
  if (got.ok() != expected.ok()) fail("outcome", json);
  if (expected.ok() && got->to_string() != expected->to_string()) fail("result", json);
  if (!expected.ok() && !(got.error() == expected.error())) fail("error", json);
  if (gas && trace.gas != used) fail("gas", json);
  uint64_t before = 0;
  for (const vexlor::TraceStep& step : trace.steps) {
    if (step.index >= program->size() || step.gas < before) fail("step", json);
    if (step.first_input + step.input_count > trace.values.size()) fail("operands", json);
    before = step.gas;
  }
  if (before != trace.gas) fail("total gas", json);
  return 0;
}
