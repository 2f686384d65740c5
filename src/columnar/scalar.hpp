#pragma once
// Faster forms of the decimal operations for the wide kernels, for operands
// whose coefficients fit 64 bits (or results that fit 96 bits): each gives
// exactly the value of the operation it stands for (div_impl, rem_impl,
// add_impl, round_dp, floor, ceil), and calls that operation for the other
// operands. Internal to the machine.

#include "decimal/decimal.hpp"

namespace vexlor::columnar::fast {

// a / b, a % b (b not zero); false on overflow.
bool quotient(const Decimal& a, const Decimal& b, Decimal& out);
bool remainder(const Decimal& a, const Decimal& b, Decimal& out);
// a + b, or a - b when `negate`; false on overflow.
bool sum(const Decimal& a, const Decimal& b, bool negate, Decimal& out);
Decimal rounded(const Decimal& a, uint32_t places);
Decimal floored(const Decimal& a);
Decimal ceiled(const Decimal& a);

}  // namespace vexlor::columnar::fast
