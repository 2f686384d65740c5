#include "decimal/dec_wide.hpp"

#include "decimal/wide.hpp"

namespace vexlor::detail {

namespace {

using wide::hi64;
using wide::lo64;
using wide::make_u128;
using wide::mul64;
using wide::u128;

// Room for a 192-bit coefficient times 10^116, or a product of two coefficients.
constexpr int MAX_LIMBS = 12;
// Beyond this scale difference the operand of the finer scale lies below half
// a unit of any digit the sum can keep.
constexpr int64_t ALIGN_LIMIT = 117;
constexpr int POW10_LIMBS = 8;
constexpr int POW10_COUNT = 136;
constexpr uint64_t TEN19 = 10000000000000000000ull;
constexpr uint64_t TEN19_INV = 0xd83c94fb6d2ac34aull;  // floor((2^128 - 1) / 10^19) - 2^64
constexpr uint64_t HALF_TEN19 = TEN19 / 2;

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

constexpr Pow10Table POW10 = make_pow10();

constexpr uint64_t pow10_u64(int k) { return POW10.w[k][0]; }  // k <= 19

int trim(const uint64_t* a, int n) {
  while (n > 0 && a[n - 1] == 0) --n;
  return n;
}

int bit_length(const uint64_t* a, int n) {
  n = trim(a, n);
  if (n == 0) return 0;
  return 64 * (n - 1) + 64 - std::countl_zero(a[n - 1]);
}

int compare(const uint64_t* a, int na, const uint64_t* b, int nb) {
  na = trim(a, na);
  nb = trim(b, nb);
  if (na != nb) return na < nb ? -1 : 1;
  for (int i = na; i-- > 0;)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

// a (n limbs) *= m; returns the new length (one more limb at most).
int mul_small(uint64_t* a, int n, uint64_t m) {
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
int mul_limbs(uint64_t* r, const uint64_t* a, int na, const uint64_t* b, int nb) {
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

constexpr SmallDivisor small_divisor(uint32_t d) {
  SmallDivisor s;
  s.shift = std::countl_zero(uint64_t{d});
  s.normalized = uint64_t{d} << s.shift;
  s.reciprocal = reciprocal_of(s.normalized);
  return s;
}

// The divisors of the two series.
constexpr int TABLED_DIVISORS = 200;
struct DivisorTable {
  SmallDivisor d[TABLED_DIVISORS];
};
constexpr DivisorTable make_divisors() {
  DivisorTable t{};
  for (uint32_t i = 1; i < TABLED_DIVISORS; ++i) t.d[i] = small_divisor(i);
  return t;
}
constexpr DivisorTable DIVISORS = make_divisors();

// a /= 10^19 in place; returns the remainder.
uint64_t div_ten19(uint64_t* a, int n) {
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

// a (n limbs, room for n + 1) /= 10^k in place (k >= 1), truncating; reports
// what the dropped digits were worth. Returns the new length through n.
Dropped div_pow10(uint64_t* a, int& n, int k) {
  const int passes = (k + 18) / 19;
  const int up = passes * 19 - k;
  if (up > 0) n = mul_small(a, n, pow10_u64(up));
  bool sticky = false;
  uint64_t last = 0;
  for (int p = 0; p < passes; ++p) {
    last = div_ten19(a, n);
    n = trim(a, n);
    if (p + 1 < passes) sticky |= last != 0;
  }
  return {last > HALF_TEN19 || (last == HALF_TEN19 && sticky), last == HALF_TEN19 && !sticky, sticky || last != 0};
}

int add_one(uint64_t* a, int n) {
  for (int i = 0; i < n; ++i)
    if (++a[i] != 0) return n;
  a[n] = 1;
  return n + 1;
}

// Division by 10^k of a value below 2^192 * 10^k through a reciprocal:
// with D = 10^k in [2^s, 2^(s+1)) and R = floor(2^(s+194) / D), the estimate
// floor(floor(N / 2^s) * R / 2^194) is at most 2 below the quotient.
constexpr int BARRETT_MAX_K = 64;
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

constexpr BarrettTable BARRETT = make_barrett();

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

// q = floor(a / 10^k) into 4 limbs (a: n <= 7 limbs, a < 2^192 * 10^k,
// 1 <= k <= BARRETT_MAX_K), and what the dropped digits were worth.
Dropped div_pow10_floor(const uint64_t* a, int n, int k, uint64_t q[4]) {
  const BarrettEntry& b = BARRETT.e[k];
  const uint64_t* d = POW10.w[k];  // zero beyond its length
  uint64_t x[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < n; ++i) x[i] = a[i];
  // n1 = a >> s: at most 193 bits.
  const int ls = b.s >> 6, bs = b.s & 63;
  uint64_t n1[4];
  for (int i = 0; i < 4; ++i) n1[i] = bs ? (x[i + ls] >> bs) | (x[i + ls + 1] << (64 - bs)) : x[i + ls];
  // q = (n1 * r) >> 194
  uint64_t p[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  for (int i = 0; i < 4; ++i) {
    uint64_t carry = 0;
    for (int j = 0; j < 4; ++j) {
      const u128 t = mul64(n1[i], b.r[j]) + u128(p[i + j]) + u128(carry);
      p[i + j] = lo64(t);
      carry = hi64(t);
    }
    p[i + 4] = carry;
  }
  for (int i = 0; i < 3; ++i) q[i] = (p[i + 3] >> 2) | (p[i + 4] << 62);
  q[3] = p[6] >> 2 | (p[7] << 62);
  // r = a - q d modulo 2^320; the true remainder is below 3 d < 2^(s+3).
  uint64_t qd[5] = {0, 0, 0, 0, 0};
  for (int i = 0; i < 4; ++i) {
    uint64_t carry = 0;
    for (int j = 0; i + j < 5; ++j) {
      const u128 t = mul64(q[i], d[j]) + u128(qd[i + j]) + u128(carry);
      qd[i + j] = lo64(t);
      carry = hi64(t);
    }
  }
  uint64_t r[5] = {x[0], x[1], x[2], x[3], x[4]};
  sub_fixed<5>(r, qd);
  for (int step = 0; step < 2 && compare_fixed<5>(r, d) >= 0; ++step) {
    sub_fixed<5>(r, d);
    for (int i = 0; i < 4; ++i)
      if (++q[i] != 0) break;
  }
  uint64_t twice[5];
  for (int i = 4; i > 0; --i) twice[i] = (r[i] << 1) | (r[i - 1] >> 63);
  twice[0] = r[0] << 1;
  const int half = (r[4] >> 63) ? 1 : compare_fixed<5>(twice, d);
  const bool inexact = (r[0] | r[1] | r[2] | r[3] | r[4]) != 0;
  return {half > 0, half == 0, inexact};
}

// q = round half to even of a / 10^k, as div_pow10_floor; returns the quotient's length.
int div_pow10_rounded(const uint64_t* a, int n, int k, uint64_t q[4]) {
  const Dropped d = div_pow10_floor(a, n, k, q);
  if (d.round_up(q[0] & 1)) {
    uint64_t carry = 1;
    for (int i = 0; i < 4 && carry; ++i) {
      q[i] += carry;
      carry = q[i] == 0 ? 1 : 0;
    }
  }
  return trim(q, 4);
}

// The exact value a / 10^scale (n limbs) rounded to fit 192 bits.
std::optional<DecWide> fit(const uint64_t* a, int n, int64_t scale, bool negative) {
  n = trim(a, n);
  DecWide r;
  if (n <= 3) {
    for (int i = 0; i < n; ++i) r.c[i] = a[i];
    r.scale = scale;
    r.negative = negative && n > 0;
    return r;
  }
  // The smallest k with a < 10^k * 2^192, that is with the limbs above the
  // third below 10^k (a lower bound first: 1233 / 4096 < log10 2).
  int k = ((bit_length(a, n) - 193) * 1233) >> 12;
  while (k < POW10_COUNT && compare(a + 3, n - 3, POW10.w[k], POW10.len[k]) >= 0) ++k;
  for (;; ++k) {
    if (k > scale) return std::nullopt;
    if (k <= BARRETT_MAX_K && n <= 7) {
      uint64_t q[4];
      if (div_pow10_rounded(a, n, k, q) <= 3) {
        r.c[0] = q[0], r.c[1] = q[1], r.c[2] = q[2];
        r.scale = scale - k;
        r.negative = negative && (q[0] | q[1] | q[2]) != 0;
        return r;
      }
      continue;
    }
    uint64_t q[MAX_LIMBS + 2];
    for (int i = 0; i < n; ++i) q[i] = a[i];
    int qn = n;
    const Dropped d = div_pow10(q, qn, k);
    if (d.round_up(qn > 0 && (q[0] & 1))) qn = add_one(q, qn);
    if (qn <= 3) {
      for (int i = 0; i < qn; ++i) r.c[i] = q[i];
      r.scale = scale - k;
      r.negative = negative && qn > 0;
      return r;
    }
  }
}

// a's coefficient times 10^shift into out (shift < ALIGN_LIMIT); returns the length.
int scaled_up(uint64_t* out, const DecWide& a, int64_t shift) {
  if (shift == 0) {
    for (int i = 0; i < 3; ++i) out[i] = a.c[i];
    return 3;
  }
  const int k = static_cast<int>(shift);
  return mul_limbs(out, a.c, 3, POW10.w[k], POW10.len[k]);
}

int compare_magnitudes(const DecWide& a, const DecWide& b) {
  if (a.scale == b.scale) return compare(a.c, 3, b.c, 3);
  const bool a_coarse = a.scale < b.scale;
  const DecWide& coarse = a_coarse ? a : b;
  const DecWide& fine = a_coarse ? b : a;
  int result;
  if (coarse.is_zero()) {
    result = fine.is_zero() ? 0 : -1;
  } else if (fine.scale - coarse.scale >= ALIGN_LIMIT) {
    result = 1;
  } else {
    uint64_t x[MAX_LIMBS + 2];
    const int nx = scaled_up(x, coarse, fine.scale - coarse.scale);
    result = compare(x, nx, fine.c, 3);
  }
  return a_coarse ? result : -result;
}

// Same-sign sum of a coarse operand whose coefficient cannot take the whole
// scale difference within 192 bits: only the fine operand is divided. Nothing
// when the sum is not of that kind (the general path then takes it).
std::optional<DecWide> add_coarse_full(const DecWide& coarse, const DecWide& fine, int64_t diff, bool negative) {
  // j: the most digits the coarse coefficient takes within 192 bits.
  int j = ((192 - bit_length(coarse.c, 3)) * 1233) >> 12;
  if (j >= diff) return std::nullopt;
  uint64_t x[5] = {coarse.c[0], coarse.c[1], coarse.c[2], 0, 0};
  for (int rest = j; rest > 0; rest -= 19) mul_small(x, 3, pow10_u64(rest > 19 ? 19 : rest));
  for (;;) {
    uint64_t y[5] = {x[0], x[1], x[2], 0, 0};
    if (mul_small(y, 3, 10) > 3) break;
    if (j + 1 >= diff) return std::nullopt;  // the whole difference fits: the sum may be exact
    x[0] = y[0], x[1] = y[1], x[2] = y[2];
    ++j;
  }
  for (;;) {
    const int k = static_cast<int>(diff) - j;
    uint64_t f[5] = {fine.c[0], fine.c[1], fine.c[2], 0, 0};
    int n = trim(f, 3);
    Dropped d{false, false, n > 0};
    if (k >= 59) {
      n = 0;  // 2 * fine < 10^59 <= 10^k: less than half a unit
    } else if (n > 0) {
      d = div_pow10(f, n, k);
    }
    uint64_t sum[5] = {x[0], x[1], x[2], 0, 0};
    uint64_t carry = 0;
    for (int i = 0; i < 4; ++i) {
      const u128 t = u128(sum[i]) + u128(i < n ? f[i] : 0) + u128(carry);
      sum[i] = lo64(t);
      carry = hi64(t);
    }
    if (d.round_up(sum[0] & 1)) add_one(sum, 4);
    if (sum[3] == 0) {
      DecWide r;
      r.c[0] = sum[0], r.c[1] = sum[1], r.c[2] = sum[2];
      r.scale = fine.scale - k;
      r.negative = negative;
      return r;
    }
    if (j == 0) return std::nullopt;
    int len = 3;
    div_pow10(x, len, 1);  // exact: x holds coarse * 10^j
    --j;
  }
}

std::optional<DecWide> add_signed(const DecWide& a, const DecWide& b, bool b_negative) {
  if (b.is_zero()) return a;
  if (a.is_zero()) {
    DecWide r = b;
    r.negative = b_negative;
    return r;
  }
  const bool a_coarse = a.scale <= b.scale;
  const DecWide& coarse = a_coarse ? a : b;
  const DecWide& fine = a_coarse ? b : a;
  const bool coarse_negative = a_coarse ? a.negative : b_negative;
  const bool fine_negative = a_coarse ? b_negative : a.negative;
  if (fine.scale - coarse.scale >= ALIGN_LIMIT) {
    DecWide r = coarse;
    r.negative = coarse_negative;
    return r;
  }
  if (coarse_negative == fine_negative && fine.scale > coarse.scale) {
    if (const auto r = add_coarse_full(coarse, fine, fine.scale - coarse.scale, coarse_negative)) return r;
  }
  uint64_t x[MAX_LIMBS + 2];
  int nx = scaled_up(x, coarse, fine.scale - coarse.scale);
  for (int i = nx; i <= MAX_LIMBS; ++i) x[i] = 0;
  if (nx < 3) nx = 3;
  bool negative = coarse_negative;
  if (coarse_negative == fine_negative) {
    uint64_t carry = 0;
    for (int i = 0; i < nx; ++i) {
      const u128 s = u128(x[i]) + u128(i < 3 ? fine.c[i] : 0) + u128(carry);
      x[i] = lo64(s);
      carry = hi64(s);
    }
    if (carry) x[nx++] = carry;
  } else if (compare(x, nx, fine.c, 3) >= 0) {
    uint64_t borrow = 0;
    for (int i = 0; i < nx; ++i) {
      const uint64_t y = i < 3 ? fine.c[i] : 0;
      const uint64_t d = x[i] - y - borrow;
      borrow = (x[i] < y || (x[i] == y && borrow)) ? 1 : 0;
      x[i] = d;
    }
  } else {  // |fine| > |coarse|: both fit three limbs
    uint64_t borrow = 0;
    for (int i = 0; i < 3; ++i) {
      const uint64_t d = fine.c[i] - x[i] - borrow;
      borrow = (fine.c[i] < x[i] || (fine.c[i] == x[i] && borrow)) ? 1 : 0;
      x[i] = d;
    }
    nx = 3;
    negative = fine_negative;
  }
  return fit(x, nx, fine.scale, negative);
}

// Long division of 32-bit digit strings (lowest first): q = u / v, r = u % v,
// for m >= n >= 1 and v[n - 1] != 0; q gets m - n + 1 digits, r gets n.
void long_divide(const uint32_t* u, int m, const uint32_t* v, int n, uint32_t* q, uint32_t* r) {
  constexpr uint64_t BASE = uint64_t{1} << 32;
  if (n == 1) {
    uint64_t rem = 0;
    for (int j = m; j-- > 0;) {
      const uint64_t cur = (rem << 32) | u[j];
      q[j] = static_cast<uint32_t>(cur / v[0]);
      rem = cur % v[0];
    }
    r[0] = static_cast<uint32_t>(rem);
    return;
  }
  const int s = std::countl_zero(v[n - 1]);
  uint32_t vn[10], un[26];
  for (int i = n - 1; i > 0; --i) vn[i] = (v[i] << s) | (s ? v[i - 1] >> (32 - s) : 0);
  vn[0] = v[0] << s;
  un[m] = s ? u[m - 1] >> (32 - s) : 0;
  for (int i = m - 1; i > 0; --i) un[i] = (u[i] << s) | (s ? u[i - 1] >> (32 - s) : 0);
  un[0] = u[0] << s;
  for (int j = m - n; j >= 0; --j) {
    const uint64_t top = (uint64_t{un[j + n]} << 32) | un[j + n - 1];
    uint64_t qhat = top / vn[n - 1];
    uint64_t rhat = top % vn[n - 1];
    while (qhat >= BASE || qhat * vn[n - 2] > ((rhat << 32) | un[j + n - 2])) {
      --qhat;
      rhat += vn[n - 1];
      if (rhat >= BASE) break;
    }
    int64_t borrow = 0;
    for (int i = 0; i < n; ++i) {
      const uint64_t p = qhat * vn[i];
      const int64_t t = int64_t{un[i + j]} - borrow - static_cast<int64_t>(p & 0xFFFFFFFFu);
      un[i + j] = static_cast<uint32_t>(t);
      borrow = static_cast<int64_t>(p >> 32) - (t >> 32);
    }
    const int64_t t = int64_t{un[j + n]} - borrow;
    un[j + n] = static_cast<uint32_t>(t);
    q[j] = static_cast<uint32_t>(qhat);
    if (t < 0) {
      --q[j];
      uint64_t carry = 0;
      for (int i = 0; i < n; ++i) {
        const uint64_t sum = uint64_t{un[i + j]} + vn[i] + carry;
        un[i + j] = static_cast<uint32_t>(sum);
        carry = sum >> 32;
      }
      un[j + n] += static_cast<uint32_t>(carry);
    }
  }
  for (int i = 0; i < n; ++i) r[i] = (un[i] >> s) | (s ? static_cast<uint32_t>(uint64_t{un[i + 1]} << (32 - s)) : 0);
}

int to_digits32(const uint64_t* a, int n, uint32_t* out) {
  for (int i = 0; i < n; ++i) {
    out[2 * i] = static_cast<uint32_t>(a[i]);
    out[2 * i + 1] = static_cast<uint32_t>(a[i] >> 32);
  }
  int m = 2 * n;
  while (m > 0 && out[m - 1] == 0) --m;
  return m;
}

void from_digits32(const uint32_t* d, int m, uint64_t* a, int n) {
  for (int i = 0; i < n; ++i) {
    const uint64_t lo = 2 * i < m ? d[2 * i] : 0;
    const uint64_t hi = 2 * i + 1 < m ? d[2 * i + 1] : 0;
    a[i] = lo | (hi << 32);
  }
}

// num / den (4 limbs each, den != 0) / 10^-scale_offset, developed to as many
// digits as 192 bits hold and rounded half to even.
DecWide wide_quotient(const uint64_t* num, const uint64_t* den, int64_t scale_offset, bool negative) {
  const int bn = bit_length(num, 4), bd = bit_length(den, 4);
  // A digit count whose quotient surely fits: num * 10^u / den < 2^(bn - bd + 1) * 10^u.
  int u = ((191 - bn + bd - 1) * 1233) >> 12;
  if (u < 0) u = 0;
  uint64_t big[12] = {};
  const int nb = mul_limbs(big, num, 4, POW10.w[u], POW10.len[u]);
  uint32_t u32[24], v32[10], q32[24] = {}, r32[10] = {};
  const int m = to_digits32(big, nb, u32);
  const int n = to_digits32(den, 4, v32);
  uint64_t q[4] = {0, 0, 0, 0}, rem[4] = {0, 0, 0, 0};
  if (m >= n) {
    long_divide(u32, m, v32, n, q32, r32);
    from_digits32(q32, m - n + 1, q, 4);
    from_digits32(r32, n, rem, 4);
  } else {
    from_digits32(u32, m, rem, 4);
  }
  int64_t scale = scale_offset + u;
  // Further digits, one at a time, while the quotient still fits 192 bits.
  for (;;) {
    uint64_t t[5] = {rem[0], rem[1], rem[2], rem[3], 0};
    mul_small(t, 4, 10);
    uint64_t digit = 0;
    while (compare(t, 5, den, 4) >= 0) {
      uint64_t b = 0;
      for (int i = 0; i < 5; ++i) {
        const uint64_t y = i < 4 ? den[i] : 0;
        const uint64_t d = t[i] - y - b;
        b = (t[i] < y || (t[i] == y && b)) ? 1 : 0;
        t[i] = d;
      }
      ++digit;
    }
    uint64_t next[5] = {q[0], q[1], q[2], 0, 0};
    mul_small(next, 3, 10);
    uint64_t c2 = digit;
    for (int i = 0; i < 4 && c2; ++i) {
      next[i] += c2;
      c2 = next[i] < c2 ? 1 : 0;
    }
    if (next[3] != 0) break;
    q[0] = next[0], q[1] = next[1], q[2] = next[2];
    for (int i = 0; i < 4; ++i) rem[i] = t[i];
    ++scale;
  }
  // Half to even on the remainder.
  uint64_t twice[5] = {rem[0], rem[1], rem[2], rem[3], 0};
  mul_small(twice, 4, 2);
  const int half = compare(twice, 5, den, 4);
  DecWide z;
  z.negative = negative;
  z.scale = scale;
  if (half > 0 || (half == 0 && (q[0] & 1))) {
    q[3] = 0;
    if (add_one(q, 3) > 3) {
      uint64_t sh[4] = {~uint64_t{0}, ~uint64_t{0}, ~uint64_t{0}, 0};
      int len = 3;
      div_pow10(sh, len, 1);
      add_one(sh, len);
      z.c[0] = sh[0], z.c[1] = sh[1], z.c[2] = sh[2];
      z.scale = scale - 1;
      return z;
    }
  }
  z.c[0] = q[0], z.c[1] = q[1], z.c[2] = q[2];
  z.negative = negative && !z.is_zero();
  return z;
}

}  // namespace

std::optional<DecWide> DecWide::add(const DecWide& o) const { return add_signed(*this, o, o.negative); }
std::optional<DecWide> DecWide::sub(const DecWide& o) const { return add_signed(*this, o, !o.negative); }

std::optional<DecWide> DecWide::mul(const DecWide& o) const {
  uint64_t p[6];
  const int na = trim(c, 3), nb = trim(o.c, 3);
  if (na == 0 || nb == 0) return DecWide{};
  const int n = mul_limbs(p, c, na, o.c, nb);
  return fit(p, n, scale + o.scale, negative != o.negative);
}

DecWide DecWide::div_u32(uint32_t d) const {
  if (is_zero()) return DecWide{};
  const SmallDivisor div = d < TABLED_DIVISORS ? DIVISORS.d[d] : small_divisor(d);
  // The most digits u with floor(c 10^u / d) < 2^192, that is c 10^u < d 2^192:
  // a lower bound from the bit lengths, then one digit at a time.
  const int b = bit_length(c, 3);
  const int lb = 64 - std::countl_zero(uint64_t{d});
  int u = ((191 - b + lb - 1) * 1233) >> 12;
  if (u < 0) u = 0;
  uint64_t x[12] = {c[0], c[1], c[2], 0};
  if (u <= 19) {
    mul_small(x, 3, pow10_u64(u));
  } else {
    mul_limbs(x, c, 3, POW10.w[u], POW10.len[u]);
  }
  for (;;) {
    uint64_t y[5] = {x[0], x[1], x[2], x[3], 0};
    mul_small(y, 4, 10);
    if (y[4] != 0 || y[3] >= d) break;
    x[0] = y[0], x[1] = y[1], x[2] = y[2], x[3] = y[3];
    ++u;
  }
  // x = c 10^u < d 2^192: four limbs, the top one below d. Normalize and divide.
  uint64_t n[5] = {x[0], x[1], x[2], x[3], 0};
  if (div.shift > 0) {
    for (int i = 4; i > 0; --i) n[i] = (n[i] << div.shift) | (n[i - 1] >> (64 - div.shift));
    n[0] <<= div.shift;
  }
  uint64_t rem = 0;
  uint64_t q[4] = {0, 0, 0, 0};
  div_2by1(rem, n[4], div.normalized, div.reciprocal, rem);
  for (int i = 3; i >= 0; --i) q[i] = div_2by1(rem, n[i], div.normalized, div.reciprocal, rem);
  rem >>= div.shift;
  DecWide r;
  r.negative = negative;
  r.scale = scale + u;
  const uint64_t twice = rem * 2;
  if (twice > d || (twice == d && (q[0] & 1))) {
    if (add_one(q, 3) > 3) {
      // 2^192 - 1 rounded up: one digit fewer. Its last digit is 5 with a
      // non-zero rest, so the shorter quotient rounds up.
      uint64_t t[4] = {~uint64_t{0}, ~uint64_t{0}, ~uint64_t{0}, 0};
      int len = 3;
      div_pow10(t, len, 1);
      add_one(t, len);
      r.c[0] = t[0], r.c[1] = t[1], r.c[2] = t[2];
      r.scale -= 1;
      return r;
    }
  }
  r.c[0] = q[0], r.c[1] = q[1], r.c[2] = q[2];
  return r;
}

DecWide DecWide::atanh_argument(const DecWide& r) {
  // num = |c - 10^s| and den = c + 10^s at r's scale s (at most 58: r > 1/e).
  const int s = static_cast<int>(r.scale);
  uint64_t num[5] = {0, 0, 0, 0, 0}, den[5] = {0, 0, 0, 0, 0}, rc[5] = {r.c[0], r.c[1], r.c[2], 0, 0};
  for (int i = 0; i < POW10.len[s]; ++i) num[i] = den[i] = POW10.w[s][i];
  const bool below_one = compare(rc, 4, num, 4) < 0;
  const uint64_t* big_one = below_one ? num : rc;
  uint64_t small_one[5];
  for (int i = 0; i < 5; ++i) small_one[i] = below_one ? rc[i] : num[i];
  uint64_t borrow = 0, carry = 0, diff[5];
  for (int i = 0; i < 4; ++i) {
    const uint64_t d = big_one[i] - small_one[i] - borrow;
    borrow = (big_one[i] < small_one[i] || (big_one[i] == small_one[i] && borrow)) ? 1 : 0;
    diff[i] = d;
    const u128 sum = u128(den[i]) + u128(rc[i]) + u128(carry);
    den[i] = lo64(sum);
    carry = hi64(sum);
  }
  for (int i = 0; i < 4; ++i) num[i] = diff[i];
  if (trim(num, 4) == 0) return DecWide{};
  return wide_quotient(num, den, 0, below_one);
}

DecWide DecWide::reciprocal(const Decimal& x) {
  const uint64_t one[4] = {1, 0, 0, 0};
  const uint64_t den[4] = {x.lo(), x.hi(), 0, 0};
  // 1 / (c / 10^s) = (1 / c) * 10^s: the quotient's scale less s.
  return wide_quotient(one, den, -static_cast<int64_t>(x.scale()), x.is_sign_negative());
}

int DecWide::cmp(const DecWide& o) const {
  const bool za = is_zero(), zb = o.is_zero();
  if (za && zb) return 0;
  const bool na = negative && !za, nb = o.negative && !zb;
  if (na != nb) return na ? -1 : 1;
  const int mag = compare_magnitudes(*this, o);
  return na ? -mag : mag;
}

bool DecWide::below_half_unit() const {
  if (scale <= MAX_SCALE) return is_zero();
  const int64_t k = scale - MAX_SCALE;
  if (k >= 59) return true;  // 2 * coefficient < 2^193 < 10^59
  uint64_t twice[4] = {c[0] << 1, (c[1] << 1) | (c[0] >> 63), (c[2] << 1) | (c[1] >> 63), c[2] >> 63};
  return compare(twice, 4, POW10.w[k], POW10.len[k]) <= 0;
}

std::optional<Decimal> DecWide::to_decimal() const {
  int64_t k = scale > MAX_SCALE ? scale - MAX_SCALE : 0;
  uint64_t q[5] = {c[0], c[1], c[2], 0, 0};
  int n = trim(q, 3);
  if (k >= 59) {
    n = 0;  // below a unit of the 28th decimal
  } else if (k > 0) {
    div_pow10(q, n, static_cast<int>(k));
  }
  // Further digits while the quotient needs more than 96 bits.
  while (n > 2 || (n == 2 && (q[1] >> 32) != 0)) {
    int extra = ((bit_length(q, n) - 96) * 1233) >> 12;
    if (extra < 1) extra = 1;
    div_pow10(q, n, extra);
    k += extra;
  }
  if (k > scale) return std::nullopt;
  const uint64_t lo = n > 0 ? q[0] : 0;
  const uint32_t hi = n > 1 ? static_cast<uint32_t>(q[1]) : 0;
  const bool zero = lo == 0 && hi == 0;
  return Decimal::from_parts(lo, hi, static_cast<uint32_t>(scale - k), negative && !zero);
}

std::optional<Decimal> DecWide::to_decimal_rounded() const {
  int64_t k = scale > MAX_SCALE ? scale - MAX_SCALE : 0;
  if (k >= 59) return Decimal::from_parts(0, 0, MAX_SCALE, false);  // below half a unit
  for (;; ++k) {
    if (k > scale) return std::nullopt;
    uint64_t q[5] = {c[0], c[1], c[2], 0, 0};
    int n = trim(q, 3);
    if (k > 0 && n > 0) {
      const Dropped d = div_pow10(q, n, static_cast<int>(k));
      if (d.round_up(n > 0 && (q[0] & 1))) n = add_one(q, n);
    }
    if (n > 2 || (n == 2 && (q[1] >> 32) != 0)) continue;
    const uint64_t lo = n > 0 ? q[0] : 0;
    const uint32_t hi = n > 1 ? static_cast<uint32_t>(q[1]) : 0;
    const bool zero = lo == 0 && hi == 0;
    return Decimal::from_parts(lo, hi, static_cast<uint32_t>(scale - k), negative && !zero);
  }
}

}  // namespace vexlor::detail
