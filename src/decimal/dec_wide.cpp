#include "decimal/dec_wide.hpp"

#include "decimal/limbs.hpp"

namespace vexlor::detail {

namespace {

using namespace limbs;

constexpr int MAX_LIMBS = 12;
// Beyond this scale difference the operand of the finer scale lies below half
// a unit of any digit the sum can keep.
constexpr int64_t ALIGN_LIMIT = 117;

// The exact value a / 10^scale (n limbs, zeros beyond them up to the eighth)
// rounded to fit 192 bits.
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
  if (n <= 6) {
    // The limbs above the third fit three limbs, below 2^192 < 10^58.
    while (k < 58 && compare_fixed<3>(a + 3, POW10.w[k]) >= 0) ++k;
  } else {
    while (k < POW10_COUNT && compare(a + 3, n - 3, POW10.w[k], POW10.len[k]) >= 0) ++k;
  }
  for (;; ++k) {
    if (k > scale) return std::nullopt;
    if (k <= BARRETT_MAX_K && n <= 7) {
      uint64_t q[4];
      if (div_pow10_rounded(a, k, q) <= 3) {
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

}  // namespace

std::optional<DecWide> DecWide::add(const DecWide& o) const { return add_signed(*this, o, o.negative); }
std::optional<DecWide> DecWide::sub(const DecWide& o) const { return add_signed(*this, o, !o.negative); }

std::optional<DecWide> DecWide::mul(const DecWide& o) const {
  if (is_zero() || o.is_zero()) return DecWide{};
  uint64_t p[8] = {0, 0, 0, 0, 0, 0, 0, 0};
#pragma GCC unroll 3
  for (int i = 0; i < 3; ++i) {
    uint64_t carry = 0;
#pragma GCC unroll 3
    for (int j = 0; j < 3; ++j) {
      const u128 t = mul64(c[i], o.c[j]) + u128(p[i + j]) + u128(carry);
      p[i + j] = lo64(t);
      carry = hi64(t);
    }
    p[i + 3] = carry;
  }
  return fit(p, 6, scale + o.scale, negative != o.negative);
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
  uint64_t x[8] = {c[0], c[1], c[2], 0, 0, 0, 0, 0};
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
  // The bits shifted out of the top limb are below the normalized divisor:
  // they start the remainder (two-step shifts: no branch for a zero shift).
  const int sh = div.shift;
  uint64_t rem = (x[3] >> 1) >> (63 - sh);
  uint64_t q[4] = {0, 0, 0, 0};
  for (int i = 3; i >= 0; --i) {
    const uint64_t below = i > 0 ? x[i - 1] : 0;
    q[i] = div_2by1(rem, (x[i] << sh) | ((below >> 1) >> (63 - sh)), div.normalized, div.reciprocal, rem);
  }
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
  return compare_fixed<4>(twice, POW10.w[k]) <= 0;  // 10^58 < 2^256
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
