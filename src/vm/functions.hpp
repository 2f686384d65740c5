#pragma once
// The eleven built-in functions (internal to the vm module; see default_functions).

#include <span>

#include "decimal/decimal.hpp"
#include "util/expected.hpp"
#include "vm/errors.hpp"

namespace vexlor::builtin {

using Args = std::span<const Decimal>;
using Result = Expected<Decimal, VmError>;

Result checked_fold(Args args);  // "add"
Result sum(Args args);           // "sum"
Result multiply(Args args);      // "mul"
Result max(Args args);
Result min(Args args);
Result round(Args args);
Result sqrt(Args args);
Result abs(Args args);
Result floor(Args args);
Result ceil(Args args);
Result average(Args args);

}  // namespace vexlor::builtin
