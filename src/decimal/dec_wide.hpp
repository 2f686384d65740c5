#pragma once
// Internal to the decimal module: fixed-size unsigned integers of 32-bit words
// and `DecWide`, the extended decimal used by the power functions (a sign, a
// scale and a 192-bit coefficient). Nothing here allocates.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "decimal/decimal.hpp"

namespace vexlor::detail {

inline constexpr uint32_t POW10_U32[10] = {1,      10,      100,      1000,      10000,
                                           100000, 1000000, 10000000, 100000000, 1000000000};

// Unsigned integer of N little-endian 32-bit words.
template <size_t N>
struct Words {
  std::array<uint32_t, N> w{};

  static Words from_u64(uint64_t v) {
    Words r;
    r.w[0] = static_cast<uint32_t>(v);
    if constexpr (N > 1) r.w[1] = static_cast<uint32_t>(v >> 32);
    return r;
  }
  static Words from_coefficient(const Decimal& d) {
    Words r = from_u64(d.lo());
    if constexpr (N > 2) r.w[2] = d.hi();
    return r;
  }
  template <size_t M>
  static Words from(const Words<M>& o) {  // the caller guarantees the value fits
    Words r;
    for (size_t i = 0; i < N && i < M; ++i) r.w[i] = o.w[i];
    return r;
  }

  bool is_zero() const {
    for (uint32_t x : w)
      if (x != 0) return false;
    return true;
  }
  size_t bit_length() const {
    for (size_t i = N; i-- > 0;)
      if (w[i] != 0) return i * 32 + (32 - static_cast<size_t>(__builtin_clz(w[i])));
    return 0;
  }
  // True when the value uses no word at index `words` or above.
  bool fits_words(size_t words) const {
    for (size_t i = words; i < N; ++i)
      if (w[i] != 0) return false;
    return true;
  }
  // Multiplies in place; returns false (value unspecified) on overflow.
  bool mul_small(uint32_t m) {
    uint64_t carry = 0;
    for (size_t i = 0; i < N; ++i) {
      const uint64_t t = uint64_t{w[i]} * m + carry;
      w[i] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    return carry == 0;
  }
  bool add_small(uint32_t a) {
    uint64_t carry = a;
    for (size_t i = 0; i < N && carry != 0; ++i) {
      const uint64_t t = uint64_t{w[i]} + carry;
      w[i] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    return carry == 0;
  }
  // Divides in place by d (non-zero) and returns the remainder.
  uint32_t div_small(uint32_t d) {
    uint64_t rem = 0;
    for (size_t i = N; i-- > 0;) {
      const uint64_t cur = (rem << 32) | w[i];
      w[i] = static_cast<uint32_t>(cur / d);
      rem = cur % d;
    }
    return static_cast<uint32_t>(rem);
  }
  bool add(const Words& o) {
    uint64_t carry = 0;
    for (size_t i = 0; i < N; ++i) {
      const uint64_t t = uint64_t{w[i]} + o.w[i] + carry;
      w[i] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    return carry == 0;
  }
  void sub(const Words& o) {  // requires *this >= o
    int64_t borrow = 0;
    for (size_t i = 0; i < N; ++i) {
      const int64_t t = int64_t{w[i]} - o.w[i] - borrow;
      w[i] = static_cast<uint32_t>(t);
      borrow = t < 0 ? 1 : 0;
    }
  }
  int compare(const Words& o) const {
    for (size_t i = N; i-- > 0;)
      if (w[i] != o.w[i]) return w[i] < o.w[i] ? -1 : 1;
    return 0;
  }
  bool shl1() {
    uint32_t carry = 0;
    for (size_t i = 0; i < N; ++i) {
      const uint32_t next = w[i] >> 31;
      w[i] = (w[i] << 1) | carry;
      carry = next;
    }
    return carry == 0;
  }
  bool bit(size_t i) const { return (w[i / 32] >> (i % 32)) & 1u; }
  bool is_odd() const { return (w[0] & 1u) != 0; }
  // Multiplies by 10^k; false on overflow.
  bool mul_pow10(uint32_t k) {
    while (k > 0) {
      const uint32_t step = k > 9 ? 9 : k;
      if (!mul_small(POW10_U32[step])) return false;
      k -= step;
    }
    return true;
  }
  // Divides by 10^k rounding half to even on the exact dropped part.
  void div_pow10_round(uint32_t k) {
    if (k == 0) return;
    bool sticky = false;
    while (k > 1) {
      const uint32_t step = (k - 1) > 9 ? 9 : (k - 1);
      sticky |= div_small(POW10_U32[step]) != 0;
      k -= step;
    }
    const uint32_t digit = div_small(10);
    if (digit > 5 || (digit == 5 && (sticky || is_odd()))) add_small(1);
  }
  // Divides by 10^k dropping the remainder; returns whether it was non-zero.
  bool div_pow10_trunc(uint32_t k) {
    bool sticky = false;
    while (k > 0) {
      const uint32_t step = k > 9 ? 9 : k;
      sticky |= div_small(POW10_U32[step]) != 0;
      k -= step;
    }
    return sticky;
  }
};

template <size_t N, size_t M>
Words<N + M> mul_full(const Words<N>& a, const Words<M>& b) {
  Words<N + M> r;
  for (size_t i = 0; i < N; ++i) {
    uint64_t carry = 0;
    if (a.w[i] == 0) continue;
    for (size_t j = 0; j < M; ++j) {
      const uint64_t t = uint64_t{a.w[i]} * b.w[j] + r.w[i + j] + carry;
      r.w[i + j] = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    r.w[i + M] = static_cast<uint32_t>(carry);
  }
  return r;
}

using U96 = Words<3>;
using U192 = Words<6>;

inline constexpr uint32_t U96_WORDS = 3;

// Extended decimal of the power functions: (-1)^negative * coefficient /
// 10^scale with a 192-bit coefficient (three 64-bit limbs, lowest first) and a
// scale of its own, never negative and not limited to 28. Every result is the
// exact value rounded half to even, dropping the fewest digits that make the
// coefficient fit 192 bits; a result that does not fit even at scale 0 is a
// failure. Only values matter: operations may return any representation of
// the rounded value (trailing zeros are not significant).
struct DecWide {
  bool negative = false;
  int64_t scale = 0;
  uint64_t c[3] = {0, 0, 0};

  static DecWide from_decimal(const Decimal& d) {
    DecWide r;
    r.negative = d.is_sign_negative() && !d.is_zero();
    r.scale = d.scale();
    r.c[0] = d.lo();
    r.c[1] = d.hi();
    return r;
  }
  static DecWide one() {
    DecWide r;
    r.c[0] = 1;
    return r;
  }
  bool is_zero() const { return (c[0] | c[1] | c[2]) == 0; }

  std::optional<DecWide> add(const DecWide& o) const;
  std::optional<DecWide> sub(const DecWide& o) const;
  std::optional<DecWide> mul(const DecWide& o) const;
  // The quotient by d (non-zero), developed to as many digits as 192 bits hold.
  DecWide div_u32(uint32_t d) const;
  // (r - 1) / (r + 1) for 1/e < r < 2 with a scale of at most 58, developed
  // like div_u32.
  static DecWide atanh_argument(const DecWide& r);
  // 1 / x (x != 0), developed like div_u32.
  static DecWide reciprocal(const Decimal& x);
  int cmp(const DecWide& o) const;  // as numbers: -1, 0, 1
  // True when |value| <= half a unit of the 28th decimal.
  bool below_half_unit() const;
  // Drops the digits beyond the 28th decimal, and any more that 96 bits need,
  // toward zero; nothing when even scale 0 does not fit.
  std::optional<Decimal> to_decimal() const;
  // Rounds half to even to at most 28 fractional digits and 96 bits.
  std::optional<Decimal> to_decimal_rounded() const;
};

}  // namespace vexlor::detail
