#pragma once
// The built-in functions over intervals: what a call may give and how it may fail.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analyze.hpp"
#include "analysis/interval.hpp"

namespace vexlor::analysis {

struct CallFailure {
  FailureKind kind;
  std::string message;  // the exception text, or its fixed start when `prefix`
  bool prefix = false;
};

struct CallOutcome {
  std::optional<Interval> value;  // none: every call with these arguments fails
  std::vector<CallFailure> failures;
};

// The built-in function `fn` (one of FUNCTION_SLOT_NAMES) called with values in `args`.
CallOutcome call_builtin(std::string_view fn, std::span<const Interval> args);

// "Invalid argument count: expected E, got G".
std::string argument_count_text(size_t expected, size_t got);

}  // namespace vexlor::analysis
