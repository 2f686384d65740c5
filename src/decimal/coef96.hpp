#pragma once
// Word-level helpers for a 96-bit coefficient held as a 64-bit low part and a
// 32-bit high part: multiplication and division by factors below 2^32, with no
// 128-bit division (divisions by constants compile to multiplications).

#include <cstdint>

#include "decimal/wide.hpp"

namespace vexlor::coef96 {

inline constexpr uint32_t POW10_U32[10] = {1,      10,      100,      1000,      10000,
                                           100000, 1000000, 10000000, 100000000, 1000000000};

struct Coef {
  uint64_t lo = 0;
  uint32_t hi = 0;

  constexpr bool is_zero() const { return lo == 0 && hi == 0; }
};

// Divides by `d` (non-zero) in place and returns the remainder.
inline uint32_t divmod(Coef& c, uint32_t d) {
  const uint32_t hq = c.hi / d;
  uint64_t r = c.hi % d;
  uint64_t t = (r << 32) | (c.lo >> 32);
  const uint64_t q1 = t / d;
  r = t % d;
  t = (r << 32) | (c.lo & 0xFFFFFFFFu);
  const uint64_t q0 = t / d;
  c.hi = hq;
  c.lo = (q1 << 32) | q0;
  return static_cast<uint32_t>(t % d);
}

// Multiplies by `f` in place; returns false (and leaves `c` unchanged) when the
// product does not fit in 96 bits.
inline bool mul(Coef& c, uint32_t f) {
  const wide::u128 p = wide::mul64(c.lo, f);
  const uint64_t h = uint64_t{c.hi} * f + wide::hi64(p);
  if (h >> 32) return false;
  c.lo = wide::lo64(p);
  c.hi = static_cast<uint32_t>(h);
  return true;
}

// Multiplies by 10^n in steps of 10^9; false when the result leaves 96 bits.
inline bool mul_pow10(Coef& c, uint32_t n) {
  while (n >= 9) {
    if (!mul(c, 1000000000u)) return false;
    n -= 9;
  }
  return n == 0 || mul(c, POW10_U32[n]);
}

// Divides by 10^n, dropping the remainder.
inline void div_pow10(Coef& c, uint32_t n) {
  while (n >= 9) {
    divmod(c, 1000000000u);
    n -= 9;
  }
  if (n != 0) divmod(c, POW10_U32[n]);
}

inline void add_one(Coef& c) {
  if (++c.lo == 0) ++c.hi;
}

}  // namespace vexlor::coef96
