#pragma once
// Inputs that make a run fail as the analysis says it may: candidate values
// from each variable's domain (edges, zero, small numbers, the program's own
// constants), combined and checked by running the program.

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/analyze.hpp"
#include "compiler/bytecode.hpp"
#include "decimal/decimal.hpp"
#include "vm/errors.hpp"

namespace vexlor::analysis {

// One value per variable of `names`, in that order.
using Assignment = std::vector<Decimal>;
// Failures with the same kind and message share one witness.
using Witness = std::shared_ptr<const Assignment>;

// For each failure, an assignment under which a run fails with that kind and
// message (a prefix match where the failure's message is a fixed start), or
// null. `domains` holds the domain of each name given one; the others are any
// Decimal. At most `budget` runs, fewer for long programs with many variables.
std::vector<Witness> find_witnesses(const Program& program, std::span<const std::string> names,
                                                      std::span<const VarDomain> domains,
                                                      std::span<const FailureSite> failures, size_t budget);

// The message `evaluate` raises for a run's error (Overflow without its prefix).
std::string evaluate_message(const VmError& error);

}  // namespace vexlor::analysis
