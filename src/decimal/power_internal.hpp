#pragma once
// Internal to the decimal module: helpers of the negative integer power.

#include <cstdint>
#include <optional>

#include "decimal/decimal.hpp"

namespace vexlor::detail {

// True when base^n (n >= 1) is exactly a Decimal: its normalized coefficient
// raised to n fits 96 bits and its normalized scale times n is at most 28.
bool power_is_exact(const Decimal& base, uint64_t n);

// base^-n (base != 0, n >= 1) rounded half to even to the largest scale (at
// most 28) whose coefficient fits 96 bits; nothing when even scale 0 does not.
// Computed in 192-bit decimal floating point, far beyond the 29 digits kept.
std::optional<Decimal> reciprocal_power(const Decimal& base, uint64_t n);

}  // namespace vexlor::detail
