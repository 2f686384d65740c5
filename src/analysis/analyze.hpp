#pragma once
// Static analysis of a program: for inputs inside given domains, the largest
// gas a run can use, the interval and scales of every result, and every
// failure a run may meet, by abstract interpretation over the value stack.
// Sound: a failure that cannot be ruled out is listed.
//
//   VarDomain qty{"qty", Interval::range(zero, hundred, 0, 0, false)};
//   Report r = analyze(program, {&qty, 1});

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/interval.hpp"
#include "compiler/bytecode.hpp"

namespace vexlor::analysis {

// A variable's domain, by its display name ("x", or "{uuid}" in lower case).
struct VarDomain {
  std::string name;
  Interval value;
  // Non-empty when reading the variable's value may itself fail (a text or a
  // float column): that failure's message or its fixed start.
  std::string read_failure;
  bool read_failure_is_prefix = false;
  // Values come from binary floats: a witness must survive the round trip
  // through a double, so it keeps at most 15 significant digits.
  bool float_values = false;
};

// The evaluation errors' kinds, and the loop guard's.
enum class FailureKind : uint8_t {
  RuntimeError,
  StackUnderflow,
  DivisionByZero,
  InvalidArgumentCount,
  VariableNotFound,
  FunctionNotFound,
  InvalidDecimalConversion,
  Overflow,
  LoopLimit,
};
const char* failure_kind_name(FailureKind kind);

inline constexpr size_t END_OF_RUN = ~size_t{0};  // pc of the end-of-run check

struct FailureSite {
  FailureKind kind;
  std::string message;  // the exception text, or its fixed start when `prefix`
  bool prefix = false;
  size_t pc;            // the instruction, or END_OF_RUN
  bool from_reading = false;  // raised while reading a column value, not by a run
};

struct WarningSite {
  const char* kind;  // "never-taken" (a branch no input takes), "zero-divisor" (a divisor only ever zero)
  std::string message;
  size_t pc;
};

struct Report {
  std::optional<uint64_t> gas;  // none: no bound (backward jumps)
  bool has_result = false;      // some run may end with a value
  Interval result;
  std::vector<FailureSite> failures;  // in order of first instruction
  std::vector<WarningSite> warnings;
};

// Domains not given are any Decimal. Never loops; recursion-free.
Report analyze(const Program& program, std::span<const VarDomain> domains);

// The program's variables, sorted and unique, as CompiledExpression.variables() gives them.
std::vector<std::string> program_variables(const Program& program);

}  // namespace vexlor::analysis
