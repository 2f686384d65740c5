#pragma once
// Inline arithmetic for the common operands of a run: coefficients below 2^64
// (internal to the vm module). Each function gives exactly the value the
// decimal operation gives (add_impl, sub_impl, mul_impl, Decimal::cmp) and
// returns false for operands it does not cover; the caller then calls the
// operation itself.

#include <array>
#include <bit>
#include <compare>
#include <cstdint>

#include "decimal/decimal.hpp"

namespace vexlor::small {

using vexlor::POW10_U64;

// A value with a coefficient below 2^64, built as two 64-bit words so that it is
// stored as whole words: reading its upper half back (as the decimal operations
// do) then never waits for two separate 32-bit stores.
inline Decimal make(uint64_t lo, uint32_t scale, bool negative) {
  const uint64_t flags = uint64_t{scale} << Decimal::SCALE_SHIFT | (negative ? uint64_t{Decimal::SIGN_BIT} : 0);
  return std::bit_cast<Decimal>(std::array<uint64_t, 2>{lo, flags << 32});
}
static_assert(std::endian::native == std::endian::little);
static_assert(std::bit_cast<std::array<uint64_t, 2>>(Decimal::from_parts(7, 5, 3, true)) ==
              std::array<uint64_t, 2>{7, 5 | uint64_t{3 << Decimal::SCALE_SHIFT | Decimal::SIGN_BIT} << 32});

// Both coefficients of a and b below 2^64 and non-zero, brought to the larger
// scale without leaving 64 bits. Zero operands are left to the operations, which
// pass the other operand on unchanged.
inline bool align(const Decimal& a, const Decimal& b, uint64_t& x, uint64_t& y, uint32_t& scale) {
  if ((a.hi() | b.hi()) != 0 || a.lo() == 0 || b.lo() == 0) return false;
  const uint32_t sa = a.scale(), sb = b.scale();
  x = a.lo();
  y = b.lo();
  if (sa == sb) {
    scale = sa;
    return true;
  }
  if (sa < sb) {
    scale = sb;
    return sb - sa < 20 && !__builtin_mul_overflow(x, POW10_U64[sb - sa], &x);
  }
  scale = sa;
  return sa - sb < 20 && !__builtin_mul_overflow(y, POW10_U64[sa - sb], &y);
}

// a + b, or a - b when `negate_b`: the exact sum at the larger scale; a zero sum
// is positive.
inline bool add(const Decimal& a, const Decimal& b, bool negate_b, Decimal& out) {
  uint64_t x, y;
  uint32_t scale;
  if (!align(a, b, x, y, scale)) return false;
  const bool neg_a = a.is_sign_negative();
  const bool neg_b = b.is_sign_negative() != negate_b;
  uint64_t r;
  bool negative;
  if (neg_a == neg_b) {
    if (__builtin_add_overflow(x, y, &r)) return false;
    negative = neg_a;
  } else if (x >= y) {
    r = x - y;
    negative = neg_a && r != 0;
  } else {
    r = y - x;
    negative = neg_b;
  }
  out = make(r, scale, negative);
  return true;
}

// a * b: the exact product, scales added (at most 28).
inline bool mul(const Decimal& a, const Decimal& b, Decimal& out) {
  if ((a.hi() | b.hi()) != 0 || a.lo() == 0 || b.lo() == 0) return false;
  const uint32_t scale = a.scale() + b.scale();
  uint64_t p;
  if (scale > 28 || __builtin_mul_overflow(a.lo(), b.lo(), &p)) return false;
  out = make(p, scale, a.is_sign_negative() != b.is_sign_negative());
  return true;
}

// The numeric order of a and b. Operands of one sign with coefficients below
// 2^64 are compared at the larger scale; zeros need no care there (a scaled zero
// is still zero, and the two zeros of one sign are equal).
inline std::strong_ordering cmp(const Decimal& a, const Decimal& b) {
  const uint32_t fa = a.flags(), fb = b.flags();
  if (((fa ^ fb) & Decimal::SIGN_BIT) == 0 && (a.hi() | b.hi()) == 0) {
    uint64_t x = a.lo(), y = b.lo();
    const uint32_t sa = a.scale(), sb = b.scale();
    bool fits = true;
    if (sa < sb) {
      fits = sb - sa < 20 && !__builtin_mul_overflow(x, POW10_U64[sb - sa], &x);
    } else if (sb < sa) {
      fits = sa - sb < 20 && !__builtin_mul_overflow(y, POW10_U64[sa - sb], &y);
    }
    if (fits) return (fa & Decimal::SIGN_BIT) != 0 ? y <=> x : x <=> y;
  }
  return a.cmp(b);
}

}  // namespace vexlor::small
