#pragma once
// Internal to the decimal module: unsigned integers of 64-bit limbs (lowest
// first) for the extended decimal, and their divisions by powers of ten and by
// small integers through tabled reciprocals. Nothing here allocates.

#include <bit>
#include <cstdint>

#include "decimal/wide.hpp"

namespace vexlor::detail::limbs {

using wide::hi64;
using wide::lo64;
using wide::make_u128;
using wide::mul64;
using wide::u128;

// Room for a 192-bit coefficient times 10^116, or a product of two coefficients.

inline constexpr int POW10_LIMBS = 8;
inline constexpr int POW10_COUNT = 136;
inline constexpr uint64_t TEN19 = 10000000000000000000ull;
inline constexpr uint64_t TEN19_INV = 0xd83c94fb6d2ac34aull;  // floor((2^128 - 1) / 10^19) - 2^64

struct Pow10Table {
  uint64_t w[POW10_COUNT][POW10_LIMBS];
  int len[POW10_COUNT];
};

constexpr Pow10Table make_pow10() {
  Pow10Table t{};
  t.w[0][0] = 1;
  t.len[0] = 1;
  for (int k = 1; k < POW10_COUNT; ++k) {
    uint64_t carry = 0;
    for (int i = 0; i < POW10_LIMBS; ++i) {
      const u128 p = mul64(t.w[k - 1][i], 10) + u128(carry);
      t.w[k][i] = lo64(p);
      carry = hi64(p);
    }
    int n = POW10_LIMBS;
    while (n > 1 && t.w[k][n - 1] == 0) --n;
    t.len[k] = n;
  }
  return t;
}

inline constexpr Pow10Table POW10 = make_pow10();

constexpr uint64_t pow10_u64(int k) { return POW10.w[k][0]; }  // k <= 19

inline int trim(const uint64_t* a, int n) {
  while (n > 0 && a[n - 1] == 0) --n;
  return n;
}

inline int bit_length(const uint64_t* a, int n) {
  n = trim(a, n);
  if (n == 0) return 0;
  return 64 * (n - 1) + 64 - std::countl_zero(a[n - 1]);
}

inline int compare(const uint64_t* a, int na, const uint64_t* b, int nb) {
  na = trim(a, na);
  nb = trim(b, nb);
  if (na != nb) return na < nb ? -1 : 1;
  for (int i = na; i-- > 0;)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

// a (n limbs) *= m; returns the new length (one more limb at most).
inline int mul_small(uint64_t* a, int n, uint64_t m) {
  uint64_t carry = 0;
  for (int i = 0; i < n; ++i) {
    const u128 p = mul64(a[i], m) + u128(carry);
    a[i] = lo64(p);
    carry = hi64(p);
  }
  if (carry != 0) a[n++] = carry;
  return n;
}

// r = a * b (limb counts na, nb); returns the length na + nb.
inline int mul_limbs(uint64_t* r, const uint64_t* a, int na, const uint64_t* b, int nb) {
  for (int i = 0; i < na + nb; ++i) r[i] = 0;
  for (int i = 0; i < na; ++i) {
    uint64_t carry = 0;
    for (int j = 0; j < nb; ++j) {
      const u128 p = mul64(a[i], b[j]) + u128(r[i + j]) + u128(carry);
      r[i + j] = lo64(p);
      carry = hi64(p);
    }
    r[i + nb] = carry;
  }
  return na + nb;
}

// Divides (u1:u0) by a divisor with its top bit set, using its reciprocal
// v = floor((2^128 - 1) / d) - 2^64; u1 < d.
inline uint64_t div_2by1(uint64_t u1, uint64_t u0, uint64_t d, uint64_t v, uint64_t& rem) {
  const u128 q = mul64(v, u1) + make_u128(u1, u0);
  uint64_t q1 = hi64(q) + 1;
  const uint64_t q0 = lo64(q);
  uint64_t r = u0 - q1 * d;
  if (r > q0) {
    --q1;
    r += d;
  }
  if (r >= d) {
    ++q1;
    r -= d;
  }
  rem = r;
  return q1;
}

inline uint64_t div_ten19_step(uint64_t u1, uint64_t u0, uint64_t& rem) {
  return div_2by1(u1, u0, TEN19, TEN19_INV, rem);
}

// floor((2^128 - 1) / d) - 2^64 for d with its top bit set.
constexpr uint64_t reciprocal_of(uint64_t d) {
  uint64_t r = ~d;  // the high limb of 2^128 - 1 - 2^64 d, below d
  uint64_t q = 0;
  for (int i = 0; i < 64; ++i) {
    const bool carry = (r >> 63) != 0;
    r = (r << 1) | 1;
    q <<= 1;
    if (carry || r >= d) {
      r -= d;
      q |= 1;
    }
  }
  return q;
}

struct SmallDivisor {
  uint64_t normalized = 0;
  uint64_t reciprocal = 0;
  int shift = 0;
};

constexpr SmallDivisor small_divisor(uint64_t d) {
  SmallDivisor s;
  s.shift = std::countl_zero(d);
  s.normalized = d << s.shift;
  s.reciprocal = reciprocal_of(s.normalized);
  return s;
}

// The divisors of the two series.
inline constexpr int TABLED_DIVISORS = 200;
struct DivisorTable {
  SmallDivisor d[TABLED_DIVISORS];
};
constexpr DivisorTable make_divisors() {
  DivisorTable t{};
  for (uint32_t i = 1; i < TABLED_DIVISORS; ++i) t.d[i] = small_divisor(i);
  return t;
}
inline constexpr DivisorTable DIVISORS = make_divisors();

// a /= 10^19 in place; returns the remainder.
inline uint64_t div_ten19(uint64_t* a, int n) {
  uint64_t r = 0;
  for (int i = n; i-- > 0;) a[i] = div_ten19_step(r, a[i], r);
  return r;
}

struct Dropped {
  bool above_half;  // the dropped part is more than half a unit
  bool half;        // exactly half a unit
  bool inexact;
  bool round_up(bool odd) const { return above_half || (half && odd); }
};

// 10^k for 1 <= k <= 19, normalized, with their reciprocals.
struct Pow10DivisorTable {
  SmallDivisor d[20];
};
constexpr Pow10DivisorTable make_pow10_divisors() {
  Pow10DivisorTable t{};
  for (int k = 1; k < 20; ++k) t.d[k] = small_divisor(POW10.w[k][0]);
  return t;
}
inline constexpr Pow10DivisorTable POW10_DIVISORS = make_pow10_divisors();

// a (n limbs) /= the divisor in place; returns the remainder. The dividend is
// taken shifted left like the divisor (the two-step shifts need no branch for
// a shift of zero bits).
inline uint64_t div_by_limb(uint64_t* a, int n, const SmallDivisor& dv) {
  if (n == 0) return 0;
  const int sh = dv.shift;
  uint64_t rem = (a[n - 1] >> 1) >> (63 - sh);
  for (int i = n; i-- > 0;) {
    const uint64_t below = i > 0 ? a[i - 1] : 0;
    const uint64_t u = (a[i] << sh) | ((below >> 1) >> (63 - sh));
    a[i] = div_2by1(rem, u, dv.normalized, dv.reciprocal, rem);
  }
  return rem >> sh;
}

// a (n limbs) /= 10^k in place (k >= 1), truncating; reports what the dropped
// digits were worth. Returns the new length through n. The lowest digits go
// first, 19 at a time; the last division leaves the remainder that decides.
inline Dropped div_pow10(uint64_t* a, int& n, int k) {
  bool sticky = false;
  for (; k > 19; k -= 19) {
    sticky |= div_ten19(a, n) != 0;
    n = trim(a, n);
  }
  const uint64_t last = div_by_limb(a, n, POW10_DIVISORS.d[k]);
  n = trim(a, n);
  const uint64_t half = pow10_u64(k) / 2;
  return {last > half || (last == half && sticky), last == half && !sticky, sticky || last != 0};
}

inline int add_one(uint64_t* a, int n) {
  for (int i = 0; i < n; ++i)
    if (++a[i] != 0) return n;
  a[n] = 1;
  return n + 1;
}

// Division by 10^k of a value below 2^192 * 10^k through a reciprocal:
// with D = 10^k in [2^s, 2^(s+1)) and R = floor(2^(s+194) / D), the estimate
// floor(floor(N / 2^s) * R / 2^194) is at most 2 below the quotient.
inline constexpr int BARRETT_MAX_K = 64;
struct BarrettEntry {
  uint64_t r[4];
  int s;
};
struct BarrettTable {
  BarrettEntry e[BARRETT_MAX_K + 1];
};

constexpr BarrettTable make_barrett() {
  BarrettTable t{};
  for (int k = 1; k <= BARRETT_MAX_K; ++k) {
    const uint64_t* d = POW10.w[k];
    const int len = POW10.len[k];
    int bits = 64 * (len - 1);
    for (uint64_t top = d[len - 1]; top != 0; top >>= 1) ++bits;
    const int s = bits - 1;
    // Long division of 2^(s + 194) by d, one bit at a time.
    uint64_t rem[6] = {0, 0, 0, 0, 0, 0};
    uint64_t q[4] = {0, 0, 0, 0};
    for (int i = s + 194; i >= 0; --i) {
      for (int j = 5; j > 0; --j) rem[j] = (rem[j] << 1) | (rem[j - 1] >> 63);
      rem[0] = (rem[0] << 1) | (i == s + 194 ? 1 : 0);
      int cmp = 0;
      for (int j = 5; j >= 0 && cmp == 0; --j) {
        const uint64_t dj = j < len ? d[j] : 0;
        if (rem[j] != dj) cmp = rem[j] < dj ? -1 : 1;
      }
      if (cmp >= 0) {
        uint64_t borrow = 0;
        for (int j = 0; j < 6; ++j) {
          const uint64_t dj = j < len ? d[j] : 0;
          const uint64_t diff = rem[j] - dj - borrow;
          borrow = (rem[j] < dj || (rem[j] == dj && borrow)) ? 1 : 0;
          rem[j] = diff;
        }
        if (i < 256) q[i / 64] |= uint64_t{1} << (i % 64);
      }
    }
    for (int j = 0; j < 4; ++j) t.e[k].r[j] = q[j];
    t.e[k].s = s;
  }
  return t;
}

inline constexpr BarrettTable BARRETT = make_barrett();

// Fixed-size comparison of little-endian limbs.
template <int N>
inline int compare_fixed(const uint64_t* a, const uint64_t* b) {
  for (int i = N; i-- > 0;)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

template <int N>
inline void sub_fixed(uint64_t* a, const uint64_t* b) {
  uint64_t borrow = 0;
  for (int i = 0; i < N; ++i) {
    const uint64_t x = a[i], y = b[i];
    a[i] = x - y - borrow;
    borrow = (x < y) | ((x == y) & borrow);
  }
}

// Half of each tabled 10^k (exact: 10^k is even for k >= 1).
struct HalfPow10Table {
  uint64_t w[BARRETT_MAX_K + 1][4];
};
constexpr HalfPow10Table make_half_pow10() {
  HalfPow10Table t{};
  for (int k = 1; k <= BARRETT_MAX_K; ++k)
    for (int i = 0; i < 4; ++i) t.w[k][i] = (POW10.w[k][i] >> 1) | (POW10.w[k][i + 1] << 63);
  return t;
}
inline constexpr HalfPow10Table HALF_POW10 = make_half_pow10();

// q = floor(x / 10^k) into 4 limbs (x: 8 limbs, the highest zero, x < 2^192 *
// 10^k, 1 <= k <= BARRETT_MAX_K), and what the dropped digits were worth.
// Every loop has a fixed bound, so that the compiler unrolls it.
inline Dropped div_pow10_floor(const uint64_t x[8], int k, uint64_t q[4]) {
  const BarrettEntry& b = BARRETT.e[k];
  const uint64_t* d = POW10.w[k];  // zero beyond its length
  // n1 = a >> s: at most 193 bits (the upper part of each limb shifted in two
  // steps, so that a shift by zero bits needs no branch).
  const uint64_t* xs = x + (b.s >> 6);
  const int bs = b.s & 63;
  uint64_t n1[4];
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) n1[i] = (xs[i] >> bs) | ((xs[i + 1] << 1) << (63 - bs));
  // q = (n1 * r) >> 194 without the partial products of the two lowest
  // columns (below 2^128 + 2^193 < 2^194 together): one more below the
  // quotient at most.
  uint64_t p[8] = {0, 0, 0, 0, 0, 0, 0, 0};
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    uint64_t carry = 0;
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
      if (i + j < 2) continue;
      const u128 t = mul64(n1[i], b.r[j]) + u128(p[i + j]) + u128(carry);
      p[i + j] = lo64(t);
      carry = hi64(t);
    }
    p[i + 4] = carry;
  }
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) q[i] = (p[i + 3] >> 2) | (p[i + 4] << 62);
  // r = a - q d modulo 2^256: the true remainder is below 4 d < 2^216.
  uint64_t qd[4] = {0, 0, 0, 0};
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) {
    uint64_t carry = 0;
#pragma GCC unroll 4
    for (int j = 0; i + j < 4; ++j) {
      const u128 t = mul64(q[i], d[j]) + u128(qd[i + j]) + u128(carry);
      qd[i + j] = lo64(t);
      carry = hi64(t);
    }
  }
  uint64_t r[4] = {x[0], x[1], x[2], x[3]};
  sub_fixed<4>(r, qd);
  for (int step = 0; step < 3 && compare_fixed<4>(r, d) >= 0; ++step) {
    sub_fixed<4>(r, d);
    for (int i = 0; i < 4; ++i)
      if (++q[i] != 0) break;
  }
  const int half = compare_fixed<4>(r, HALF_POW10.w[k]);
  const bool inexact = (r[0] | r[1] | r[2] | r[3]) != 0;
  return {half > 0, half == 0, inexact};
}

// q = round half to even of a / 10^k, as div_pow10_floor (a padded with zeros
// to 8 limbs); returns the quotient's length.
inline int div_pow10_rounded(const uint64_t x[8], int k, uint64_t q[4]) {
  const Dropped d = div_pow10_floor(x, k, q);
  if (d.round_up(q[0] & 1)) {
    uint64_t carry = 1;
    for (int i = 0; i < 4 && carry; ++i) {
      q[i] += carry;
      carry = q[i] == 0 ? 1 : 0;
    }
  }
  return trim(q, 4);
}

}  // namespace vexlor::detail::limbs
