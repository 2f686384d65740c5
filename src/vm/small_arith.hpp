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
#include <utility>

#include "decimal/decimal.hpp"

namespace vexlor::small {

using vexlor::POW10_U64;

// A Decimal's flags word holds only its sign bit and its scale (bits 16..23), so
// flags of one sign order as their scales do, and a scale difference is a
// difference of flags shifted down. SCALE_BITS: the scale part of a flags word.
inline constexpr uint32_t SCALE_BITS = ~Decimal::SIGN_BIT;
inline constexpr uint32_t MAX_SCALE_BITS = 28u << Decimal::SCALE_SHIFT;

// A value with a coefficient below 2^64 and the scale part `scale_bits`, built as
// two 64-bit words so that it is stored as whole words: reading its upper half
// back (as the decimal operations do) then never waits for two separate 32-bit
// stores.
inline Decimal make(uint64_t lo, uint32_t scale_bits, bool negative) {
  const uint64_t flags = scale_bits | (negative ? uint64_t{Decimal::SIGN_BIT} : 0);
  return std::bit_cast<Decimal>(std::array<uint64_t, 2>{lo, flags << 32});
}
static_assert(std::endian::native == std::endian::little);
static_assert(std::bit_cast<std::array<uint64_t, 2>>(Decimal::from_parts(7, 5, 3, true)) ==
              std::array<uint64_t, 2>{7, 5 | uint64_t{3 << Decimal::SCALE_SHIFT | Decimal::SIGN_BIT} << 32});
static_assert(Decimal::from_parts(0, 0, 28, true).flags() == (MAX_SCALE_BITS | Decimal::SIGN_BIT));

// x and y (coefficients below 2^64) brought to the larger of the scales given as
// scale parts `sa` and `sb`, without leaving 64 bits; `scale_bits` receives it.
inline bool align(uint32_t sa, uint32_t sb, uint64_t& x, uint64_t& y, uint32_t& scale_bits) {
  if (sa == sb) {
    scale_bits = sa;
    return true;
  }
  if (sa < sb) {
    scale_bits = sb;
    const uint32_t k = (sb - sa) >> Decimal::SCALE_SHIFT;
    return __builtin_expect(k < 20 && !__builtin_mul_overflow(x, POW10_U64[k], &x), true);
  }
  scale_bits = sa;
  const uint32_t k = (sa - sb) >> Decimal::SCALE_SHIFT;
  return __builtin_expect(k < 20 && !__builtin_mul_overflow(y, POW10_U64[k], &y), true);
}

// a + b, or a - b when `negate_b`: the exact sum at the larger scale; a zero sum
// is positive. Zero operands are left to the operations, which pass the other
// operand on unchanged.
inline bool add(const Decimal& a, const Decimal& b, bool negate_b, Decimal& out) {
  if ((a.hi() | b.hi()) != 0 || a.lo() == 0 || b.lo() == 0) [[unlikely]]
    return false;
  uint64_t x = a.lo(), y = b.lo();
  uint32_t scale_bits;
  if (!align(a.flags() & SCALE_BITS, b.flags() & SCALE_BITS, x, y, scale_bits)) [[unlikely]]
    return false;
  const bool neg_a = a.is_sign_negative();
  const bool neg_b = b.is_sign_negative() != negate_b;
  uint64_t r;
  bool negative;
  if (neg_a == neg_b) {
    if (__builtin_add_overflow(x, y, &r)) [[unlikely]]
      return false;
    negative = neg_a;
  } else if (x >= y) {
    r = x - y;
    negative = neg_a && r != 0;
  } else {
    r = y - x;
    negative = neg_b;
  }
  out = make(r, scale_bits, negative);
  return true;
}

// a * b: the exact product, scales added (at most 28).
inline bool mul(const Decimal& a, const Decimal& b, Decimal& out) {
  if ((a.hi() | b.hi()) != 0 || a.lo() == 0 || b.lo() == 0) [[unlikely]]
    return false;
  const uint32_t scale_bits = (a.flags() & SCALE_BITS) + (b.flags() & SCALE_BITS);
  uint64_t p;
  if (scale_bits > MAX_SCALE_BITS || __builtin_mul_overflow(a.lo(), b.lo(), &p)) [[unlikely]]
    return false;
  out = make(p, scale_bits, a.is_sign_negative() != b.is_sign_negative());
  return true;
}

// test(a <=> b), the order taken as `cmp` below does: applied on each path, so
// that a test such as `> 0` becomes a plain comparison of the coefficients.
// Operands of one sign with coefficients below 2^64 are compared at the larger
// scale; zeros need no care there (a scaled zero is still zero, and the two
// zeros of one sign are equal).
template <class Test>
[[gnu::always_inline]] inline auto compare(const Decimal& a, const Decimal& b, Test test) {
  const uint32_t fa = a.flags(), fb = b.flags();
  if (((fa ^ fb) & Decimal::SIGN_BIT) == 0 && (a.hi() | b.hi()) == 0) [[likely]] {
    uint64_t x = a.lo(), y = b.lo();
    uint32_t scale_bits;
    if (align(fa, fb, x, y, scale_bits)) [[likely]] {  // one sign: the flags differ in the scale only
      if ((fa & Decimal::SIGN_BIT) != 0) std::swap(x, y);
      return test(x <=> y);
    }
  }
  return test(a.cmp(b));
}

// The numeric order of a and b.
inline std::strong_ordering cmp(const Decimal& a, const Decimal& b) {
  return compare(a, b, [](std::strong_ordering c) { return c; });
}

}  // namespace vexlor::small
