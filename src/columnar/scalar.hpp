#pragma once
// Faster forms of the decimal operations for the wide kernels, for operands
// whose coefficients fit 64 bits (or results that fit 96 bits): each gives
// exactly the value of the operation it stands for (div_impl, rem_impl,
// add_impl, round_dp, floor, ceil), and calls that operation for the other
// operands. Internal to the machine.

#include "decimal/decimal.hpp"

namespace vexlor::columnar::fast {

// Divisors below it are divided by a reciprocal (each remainder times 10^9 stays within 64 bits).
inline constexpr uint64_t SMALL_DIVISOR = uint64_t{1} << 34;
// The reciprocal of divisor b for quotient, or 0 (none: machine divisions).
uint64_t reciprocal(const Decimal& b);

// a / b, a % b (b not zero); false on overflow.
bool quotient(const Decimal& a, const Decimal& b, Decimal& out);
bool quotient(const Decimal& a, const Decimal& b, uint64_t reciprocal, Decimal& out);
bool remainder(const Decimal& a, const Decimal& b, Decimal& out);
// a + b, or a - b when `negate`; false on overflow.
bool sum(const Decimal& a, const Decimal& b, bool negate, Decimal& out);
Decimal rounded(const Decimal& a, uint32_t places);
Decimal floored(const Decimal& a);
Decimal ceiled(const Decimal& a);

}  // namespace vexlor::columnar::fast
