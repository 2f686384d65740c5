#include "decimal/dec_wide.hpp"
#include "decimal/limbs.hpp"

namespace vexlor::detail {

namespace {

using namespace limbs;

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

}  // namespace vexlor::detail
