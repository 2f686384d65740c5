#pragma once
// Building blocks of the decimal arithmetic: powers of ten, 128-by-64 and
// 128-by-128 division, the exact 192-bit work buffer `Buf24` and the common
// reduction step `rescale` that brings an exact value back to 96 bits.

#include <bit>
#include <cstdint>

#include "decimal/decimal.hpp"
#include "decimal/wide.hpp"

namespace vexlor::arith {

using wide::u128;

inline constexpr uint32_t POW10_U32[10] = {1,      10,      100,      1000,      10000,
                                           100000, 1000000, 10000000, 100000000, 1000000000};

using vexlor::POW10_U64;

inline constexpr uint32_t MAX96_HI = 0xFFFFFFFFu;

// 2^96 - 1, the largest coefficient.
inline u128 max96() { return wide::make_u128(MAX96_HI, ~uint64_t{0}); }
inline bool fits96(u128 v) { return wide::hi64(v) <= MAX96_HI; }

inline u128 coefficient(const Decimal& d) { return wide::make_u128(d.hi(), d.lo()); }

// A decimal from a coefficient below 2^96; a zero coefficient clears the sign.
inline Decimal make_decimal(u128 coef, uint32_t scale, bool negative) {
  const uint64_t lo = wide::lo64(coef);
  const uint32_t hi = static_cast<uint32_t>(wide::hi64(coef));
  return Decimal::from_parts(lo, hi, scale, negative && (lo | hi) != 0);
}

// ---- Division primitives -------------------------------------------------

// (hi:lo) / d in 32-bit half-word steps; requires hi < d.
inline uint64_t div128by64_portable(uint64_t hi, uint64_t lo, uint64_t d, uint64_t& rem) {
  if (hi == 0) {
    rem = lo % d;
    return lo / d;
  }
  constexpr uint64_t B = uint64_t{1} << 32;
  const int s = std::countl_zero(d);
  d <<= s;
  const uint64_t dn1 = d >> 32, dn0 = d & 0xFFFFFFFFu;
  const uint64_t un32 = s == 0 ? hi : (hi << s) | (lo >> (64 - s));
  const uint64_t un10 = lo << s;
  const uint64_t un1 = un10 >> 32, un0 = un10 & 0xFFFFFFFFu;

  uint64_t q1 = un32 / dn1;
  uint64_t rhat = un32 - q1 * dn1;
  while (q1 >= B || q1 * dn0 > B * rhat + un1) {
    --q1;
    rhat += dn1;
    if (rhat >= B) break;
  }
  const uint64_t un21 = un32 * B + un1 - q1 * d;
  uint64_t q0 = un21 / dn1;
  rhat = un21 - q0 * dn1;
  while (q0 >= B || q0 * dn0 > B * rhat + un0) {
    --q0;
    rhat += dn1;
    if (rhat >= B) break;
  }
  rem = (un21 * B + un0 - q0 * d) >> s;
  return q1 * B + q0;
}

// (hi:lo) / d with the remainder in `rem`; requires hi < d.
inline uint64_t div128by64(uint64_t hi, uint64_t lo, uint64_t d, uint64_t& rem) {
  if (hi == 0 && ((lo | d) >> 32) == 0) {  // 32-bit division is much cheaper
    const uint32_t q = static_cast<uint32_t>(lo) / static_cast<uint32_t>(d);
    rem = static_cast<uint32_t>(lo) - q * static_cast<uint32_t>(d);
    return q;
  }
#if defined(VEXLOR_NATIVE_INT128) && defined(__x86_64__)
  uint64_t q, r;
  __asm__("divq %4" : "=a"(q), "=d"(r) : "a"(lo), "d"(hi), "rm"(d));
  rem = r;
  return q;
#elif defined(VEXLOR_NATIVE_INT128)
  if (hi == 0) {
    rem = lo % d;
    return lo / d;
  }
  const u128 n = wide::make_u128(hi, lo);
  const uint64_t q = static_cast<uint64_t>(n / d);
  rem = lo - q * d;
  return q;
#else
  return div128by64_portable(hi, lo, d, rem);
#endif
}

struct DivMod {
  u128 quot;
  u128 rem;
};

// n / d for a divisor below 2^64 (not zero); the remainder is in `rem`.
inline u128 divmod_u64(u128 n, uint64_t d, uint64_t& rem) {
  const uint64_t nh = wide::hi64(n), nl = wide::lo64(n);
  if (nh < d) return u128(div128by64(nh, nl, d, rem));
  const uint64_t qh = nh / d;
  const uint64_t ql = div128by64(nh - qh * d, nl, d, rem);
  return wide::make_u128(qh, ql);
}

// Full 128-by-128 division; d must not be zero.
inline DivMod udivmod128(u128 n, u128 d) {
  const uint64_t dh = wide::hi64(d);
  if (dh == 0) {
    uint64_t r;
    const u128 q = divmod_u64(n, wide::lo64(d), r);
    return {q, u128(r)};
  }
  if (n < d) return {u128(0), n};
  // The divisor has at least 65 bits, so the quotient fits in 64 bits. Divide
  // n/2 by the top 64 bits of the normalised divisor, undo the scaling, and
  // correct the estimate (which is exact or one too small after the decrement).
  const int s = std::countl_zero(dh);
  const uint64_t d_top = wide::hi64(d << static_cast<unsigned>(s));
  const u128 half = n >> 1u;
  uint64_t ignored;
  uint64_t q = div128by64(wide::hi64(half), wide::lo64(half), d_top, ignored) >> (63 - s);
  if (q != 0) --q;
  u128 r = n - u128(q) * d;
  if (r >= d) {
    ++q;
    r -= d;
  }
  return {u128(q), r};
}

// ---- The exact 192-bit work buffer ---------------------------------------

struct Buf24 {
  uint64_t w[3] = {0, 0, 0};  // least significant word first

  Buf24() = default;
  explicit Buf24(u128 v) : w{wide::lo64(v), wide::hi64(v), 0} {}
  Buf24(uint64_t w0, uint64_t w1, uint64_t w2) : w{w0, w1, w2} {}

  bool is_zero() const { return (w[0] | w[1] | w[2]) == 0; }
  bool fits96() const { return w[2] == 0 && w[1] <= MAX96_HI; }
  bool fits128() const { return w[2] == 0; }
  u128 low128() const { return wide::make_u128(w[1], w[0]); }
  unsigned bit_length() const {
    if (w[2] != 0) return 192 - static_cast<unsigned>(std::countl_zero(w[2]));
    if (w[1] != 0) return 128 - static_cast<unsigned>(std::countl_zero(w[1]));
    return 64 - static_cast<unsigned>(std::countl_zero(w[0]));
  }
};

inline int compare(const Buf24& a, const Buf24& b) {
  for (int i = 2; i >= 0; --i) {
    if (a.w[i] != b.w[i]) return a.w[i] < b.w[i] ? -1 : 1;
  }
  return 0;
}

// a += b; returns false when the sum leaves 192 bits.
inline bool add_assign(Buf24& a, const Buf24& b) {
  unsigned carry = 0;
  for (int i = 0; i < 3; ++i) {
    const uint64_t s = a.w[i] + b.w[i];
    const unsigned c1 = s < a.w[i];
    a.w[i] = s + carry;
    carry = c1 | (a.w[i] < s);
  }
  return carry == 0;
}

// a -= b; requires a >= b.
inline void sub_assign(Buf24& a, const Buf24& b) {
  unsigned borrow = 0;
  for (int i = 0; i < 3; ++i) {
    const uint64_t d = a.w[i] - b.w[i];
    const unsigned b1 = a.w[i] < b.w[i];
    a.w[i] = d - borrow;
    borrow = b1 | (d < borrow);
  }
}

// n *= m; returns false when the product leaves 192 bits.
inline bool mul_assign(Buf24& n, uint64_t m) {
  uint64_t carry = 0;
  for (int i = 0; i < 3; ++i) {
    const u128 p = wide::mul64(n.w[i], m) + u128(carry);
    n.w[i] = wide::lo64(p);
    carry = wide::hi64(p);
  }
  return carry == 0;
}

// n *= 10^k; returns false when the product leaves 192 bits.
inline bool mul_pow10(Buf24& n, unsigned k) {
  while (k > 19) {
    if (!mul_assign(n, POW10_U64[19])) return false;
    k -= 19;
  }
  return mul_assign(n, POW10_U64[k]);
}

// n /= d for a non-zero d; returns the remainder.
inline uint64_t divmod_assign(Buf24& n, uint64_t d) {
  uint64_t r = 0;
  for (int i = 2; i >= 0; --i) {
    if (r == 0 && n.w[i] < d) {
      r = n.w[i];
      n.w[i] = 0;
    } else {
      n.w[i] = div128by64(r, n.w[i], d, r);
    }
  }
  return r;
}

// The exact product of two coefficients below 2^96.
inline Buf24 mul96(u128 a, u128 b) {
  const uint64_t a0 = wide::lo64(a), a1 = wide::hi64(a);
  const uint64_t b0 = wide::lo64(b), b1 = wide::hi64(b);
  const u128 p00 = wide::mul64(a0, b0);
  const u128 p01 = wide::mul64(a0, b1);
  const u128 p10 = wide::mul64(a1, b0);
  const uint64_t p11 = a1 * b1;  // both below 2^32
  const u128 mid = u128(wide::hi64(p00)) + u128(wide::lo64(p01)) + u128(wide::lo64(p10));
  const u128 top = u128(wide::hi64(mid)) + u128(wide::hi64(p01)) + u128(wide::hi64(p10)) + u128(p11);
  return Buf24(wide::lo64(p00), wide::lo64(mid), wide::lo64(top));
}

// The common reduction step. Given an exact non-negative integer `n` with a
// scale (possibly above 28, never negative), drop the fewest digits k >=
// max(0, scale - 28), rounding half to even on all dropped digits, so that the
// result is below 2^96. Overflow when that needs k > scale. A zero result has
// a clear sign.
ArithResult rescale(Buf24 n, int scale, bool negative);

// The rounding part of `rescale`: `q` is the exact value with k digits
// dropped (truncated), `last` the most significant dropped group, `half` half
// of that group's unit, and `sticky` whether any less significant dropped digit
// was non-zero. Rounds half to even and drops further digits while the result
// does not fit.
ArithResult round_dropped(Buf24 q, u128 last, u128 half, bool sticky, int k, int scale, bool negative);

inline constexpr u128 POW10_U128[39] = {
    wide::make_u128(0x0ULL, 0x1ULL),
    wide::make_u128(0x0ULL, 0xAULL),
    wide::make_u128(0x0ULL, 0x64ULL),
    wide::make_u128(0x0ULL, 0x3E8ULL),
    wide::make_u128(0x0ULL, 0x2710ULL),
    wide::make_u128(0x0ULL, 0x186A0ULL),
    wide::make_u128(0x0ULL, 0xF4240ULL),
    wide::make_u128(0x0ULL, 0x989680ULL),
    wide::make_u128(0x0ULL, 0x5F5E100ULL),
    wide::make_u128(0x0ULL, 0x3B9ACA00ULL),
    wide::make_u128(0x0ULL, 0x2540BE400ULL),
    wide::make_u128(0x0ULL, 0x174876E800ULL),
    wide::make_u128(0x0ULL, 0xE8D4A51000ULL),
    wide::make_u128(0x0ULL, 0x9184E72A000ULL),
    wide::make_u128(0x0ULL, 0x5AF3107A4000ULL),
    wide::make_u128(0x0ULL, 0x38D7EA4C68000ULL),
    wide::make_u128(0x0ULL, 0x2386F26FC10000ULL),
    wide::make_u128(0x0ULL, 0x16345785D8A0000ULL),
    wide::make_u128(0x0ULL, 0xDE0B6B3A7640000ULL),
    wide::make_u128(0x0ULL, 0x8AC7230489E80000ULL),
    wide::make_u128(0x5ULL, 0x6BC75E2D63100000ULL),
    wide::make_u128(0x36ULL, 0x35C9ADC5DEA00000ULL),
    wide::make_u128(0x21EULL, 0x19E0C9BAB2400000ULL),
    wide::make_u128(0x152DULL, 0x2C7E14AF6800000ULL),
    wide::make_u128(0xD3C2ULL, 0x1BCECCEDA1000000ULL),
    wide::make_u128(0x84595ULL, 0x161401484A000000ULL),
    wide::make_u128(0x52B7D2ULL, 0xDCC80CD2E4000000ULL),
    wide::make_u128(0x33B2E3CULL, 0x9FD0803CE8000000ULL),
    wide::make_u128(0x204FCE5EULL, 0x3E25026110000000ULL),
    wide::make_u128(0x1431E0FAEULL, 0x6D7217CAA0000000ULL),
    wide::make_u128(0xC9F2C9CD0ULL, 0x4674EDEA40000000ULL),
    wide::make_u128(0x7E37BE2022ULL, 0xC0914B2680000000ULL),
    wide::make_u128(0x4EE2D6D415BULL, 0x85ACEF8100000000ULL),
    wide::make_u128(0x314DC6448D93ULL, 0x38C15B0A00000000ULL),
    wide::make_u128(0x1ED09BEAD87C0ULL, 0x378D8E6400000000ULL),
    wide::make_u128(0x13426172C74D82ULL, 0x2B878FE800000000ULL),
    wide::make_u128(0xC097CE7BC90715ULL, 0xB34B9F1000000000ULL),
    wide::make_u128(0x785EE10D5DA46D9ULL, 0xF436A000000000ULL),
    wide::make_u128(0x4B3B4CA85A86C47AULL, 0x98A224000000000ULL),
};

// 10^k for k <= 38.
inline u128 pow10_u128(unsigned k) { return POW10_U128[k]; }

// FIT_LIMITS[k] = 2^96 * 10^k - 5 * 10^(k-1) (least significant word first): an
// exact value n rounds, half to even, with k digits dropped, to a coefficient
// below 2^96 exactly when n < FIT_LIMITS[k]. (At n = FIT_LIMITS[k] the kept
// quotient 2^96 - 1 is odd and the dropped half rounds it up to 2^96.)
inline constexpr uint64_t FIT_LIMITS[29][3] = {
    {0x0000000000000000ull, 0x0000000100000000ull, 0x0000000000000000ull},
    {0xFFFFFFFFFFFFFFFBull, 0x00000009FFFFFFFFull, 0x0000000000000000ull},
    {0xFFFFFFFFFFFFFFCEull, 0x00000063FFFFFFFFull, 0x0000000000000000ull},
    {0xFFFFFFFFFFFFFE0Cull, 0x000003E7FFFFFFFFull, 0x0000000000000000ull},
    {0xFFFFFFFFFFFFEC78ull, 0x0000270FFFFFFFFFull, 0x0000000000000000ull},
    {0xFFFFFFFFFFFF3CB0ull, 0x0001869FFFFFFFFFull, 0x0000000000000000ull},
    {0xFFFFFFFFFFF85EE0ull, 0x000F423FFFFFFFFFull, 0x0000000000000000ull},
    {0xFFFFFFFFFFB3B4C0ull, 0x0098967FFFFFFFFFull, 0x0000000000000000ull},
    {0xFFFFFFFFFD050F80ull, 0x05F5E0FFFFFFFFFFull, 0x0000000000000000ull},
    {0xFFFFFFFFE2329B00ull, 0x3B9AC9FFFFFFFFFFull, 0x0000000000000000ull},
    {0xFFFFFFFED5FA0E00ull, 0x540BE3FFFFFFFFFFull, 0x0000000000000002ull},
    {0xFFFFFFF45BC48C00ull, 0x4876E7FFFFFFFFFFull, 0x0000000000000017ull},
    {0xFFFFFF8B95AD7800ull, 0xD4A50FFFFFFFFFFFull, 0x00000000000000E8ull},
    {0xFFFFFB73D8C6B000ull, 0x4E729FFFFFFFFFFFull, 0x0000000000000918ull},
    {0xFFFFD28677C2E000ull, 0x107A3FFFFFFFFFFFull, 0x0000000000005AF3ull},
    {0xFFFE3940AD9CC000ull, 0xA4C67FFFFFFFFFFFull, 0x0000000000038D7Eull},
    {0xFFEE3C86C81F8000ull, 0x6FC0FFFFFFFFFFFFull, 0x00000000002386F2ull},
    {0xFF4E5D43D13B0000ull, 0x5D89FFFFFFFFFFFFull, 0x0000000001634578ull},
    {0xF90FA4A62C4E0000ull, 0xA763FFFFFFFFFFFFull, 0x000000000DE0B6B3ull},
    {0xBA9C6E7DBB0C0000ull, 0x89E7FFFFFFFFFFFFull, 0x000000008AC72304ull},
    {0x4A1C50E94E780000ull, 0x630FFFFFFFFFFFFDull, 0x000000056BC75E2Dull},
    {0xE51B291D10B00000ull, 0xDE9FFFFFFFFFFFE4ull, 0x0000003635C9ADC5ull},
    {0xF30F9B22A6E00000ull, 0xB23FFFFFFFFFFEF0ull, 0x0000021E19E0C9BAull},
    {0x7E9C0F5A84C00000ull, 0xF67FFFFFFFFFF569ull, 0x0000152D02C7E14Aull},
    {0xF21899892F800000ull, 0xA0FFFFFFFFFF961Eull, 0x0000D3C21BCECCEDull},
    {0x74F5FF5BDB000000ull, 0x49FFFFFFFFFBDD35ull, 0x0008459516140148ull},
    {0x919BF9968E000000ull, 0xE3FFFFFFFFD6A416ull, 0x0052B7D2DCC80CD2ull},
    {0xB017BFE18C000000ull, 0xE7FFFFFFFE6268E1ull, 0x033B2E3C9FD0803Cull},
    {0xE0ED7ECF78000000ull, 0x0FFFFFFFEFD818D0ull, 0x204FCE5E3E250261ull},
};

// The fewest digits k that `n` (below 2^192) must drop, rounding half to even,
// to fit in 96 bits; at most 29.
inline int digits_to_drop(const Buf24& n) {
  const unsigned bits = n.bit_length();
  if (bits <= 96) return 0;
  // A lower bound: 77/256 is just below log10(2).
  int k = static_cast<int>(((bits - 1 - 96) * 77) >> 8) + 1;
  while (k < 29) {
    const uint64_t* limit = FIT_LIMITS[k];
    const bool below = n.w[2] != limit[2]   ? n.w[2] < limit[2]
                       : n.w[1] != limit[1] ? n.w[1] < limit[1]
                                            : n.w[0] < limit[0];
    if (below) break;
    ++k;
  }
  return k;
}

inline constexpr uint64_t POW5_U64[28] = {
    1ull,
    5ull,
    25ull,
    125ull,
    625ull,
    3125ull,
    15625ull,
    78125ull,
    390625ull,
    1953125ull,
    9765625ull,
    48828125ull,
    244140625ull,
    1220703125ull,
    6103515625ull,
    30517578125ull,
    152587890625ull,
    762939453125ull,
    3814697265625ull,
    19073486328125ull,
    95367431640625ull,
    476837158203125ull,
    2384185791015625ull,
    11920928955078125ull,
    59604644775390625ull,
    298023223876953125ull,
    1490116119384765625ull,
    7450580596923828125ull,
};

// y / 10^k with the remainder, for y below 2^96 and 1 <= k <= 28.
inline u128 divmod_pow10(u128 y, unsigned k, u128& rem) {
  if (k < 10) {
    uint64_t r;
    const u128 q = divmod_u64(y, POW10_U64[k], r);
    rem = u128(r);
    return q;
  }
  if (k < 28) {
    // y / 10^k = (y / 2^k) / 5^k, a single 128-by-64 division: y / 2^k has
    // fewer than 87 bits, so its top word is below 2^22 < 5^10.
    const u128 t = y >> k;
    uint64_t r5;
    const uint64_t q = div128by64(wide::hi64(t), wide::lo64(t), POW5_U64[k], r5);
    rem = (u128(r5) << k) | u128(wide::lo64(y) & ((uint64_t{1} << k) - 1));
    return u128(q);
  }
  const DivMod r = udivmod128(y, pow10_u128(k));
  rem = r.rem;
  return r.quot;
}

// The general routines behind the public operations, without fast paths
// (kept callable so tests can compare both).
ArithResult add_sub_general(const Decimal& a, const Decimal& b, bool negate_b);
ArithResult mul_general(const Decimal& a, const Decimal& b);
ArithResult div_general(const Decimal& a, const Decimal& b);

}  // namespace vexlor::arith
