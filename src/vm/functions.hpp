#pragma once
// The eleven built-in functions (internal to the vm module; see default_functions).

#include <optional>
#include <span>

#include "decimal/decimal.hpp"
#include "util/expected.hpp"
#include "vm/errors.hpp"

namespace vexlor::builtin {

using Args = std::span<const Decimal>;
using Error = std::optional<VmError>;

bool checked_fold(Args args, Decimal& out, Error& error);  // "add"
bool sum(Args args, Decimal& out, Error& error);           // "sum"
bool multiply(Args args, Decimal& out, Error& error);      // "mul"
bool max(Args args, Decimal& out, Error& error);
bool min(Args args, Decimal& out, Error& error);
bool round(Args args, Decimal& out, Error& error);
bool sqrt(Args args, Decimal& out, Error& error);
bool abs(Args args, Decimal& out, Error& error);
bool floor(Args args, Decimal& out, Error& error);
bool ceil(Args args, Decimal& out, Error& error);
bool average(Args args, Decimal& out, Error& error);

}  // namespace vexlor::builtin
