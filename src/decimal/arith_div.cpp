#include "decimal/arith_internal.hpp"

namespace vexlor {
namespace {

using arith::Buf24;
using arith::u128;

// floor((2^96 - 1) / 10^x): the largest q with q * 10^x still below 2^96.
constexpr u128 EXTEND_LIMITS[10] = {
    wide::make_u128(0xFFFFFFFFu, 0xFFFFFFFFFFFFFFFFull), wide::make_u128(0x19999999u, 0x9999999999999999ull),
    wide::make_u128(0x28F5C28u, 0xF5C28F5C28F5C28Full),  wide::make_u128(0x418937u, 0x4BC6A7EF9DB22D0Eull),
    wide::make_u128(0x68DB8u, 0xBAC710CB295E9E1Bull),    wide::make_u128(0xA7C5u, 0xAC471B4784230FCFull),
    wide::make_u128(0x10C6u, 0xF7A0B5ED8D36B4C7ull),     wide::make_u128(0x1ADu, 0x7F29ABCAF485787Aull),
    wide::make_u128(0x2Au, 0xF31DC4611873BF3Full),       wide::make_u128(0x4u, 0x4B82FA09B5A52CB9ull),
};

// q divided by `divisor` when it divides exactly; false (q unchanged) otherwise.
inline bool divide_exactly(u128& q, uint32_t divisor) {
  uint64_t rem;
  const u128 quot = arith::divmod_u64(q, divisor, rem);
  if (rem != 0) return false;
  q = quot;
  return true;
}

// Strips trailing zeros of an inexact quotient in the fixed 8/4/2/1 pattern.
inline void strip_zeros(u128& q, int& s) {
  while ((wide::lo64(q) & 0xFFFFFFFFu) == 0 && s >= 8 && divide_exactly(q, 100000000)) s -= 8;
  if ((wide::lo64(q) & 0xF) == 0 && s >= 4 && divide_exactly(q, 10000)) s -= 4;
  if ((wide::lo64(q) & 0x3) == 0 && s >= 2 && divide_exactly(q, 100)) s -= 2;
  if ((wide::lo64(q) & 0x1) == 0 && s >= 1 && divide_exactly(q, 10)) s -= 1;
}

// (uh:um:ul) / dn for a normalised divisor dn (top bit set) when (uh:um) < dn:
// one 64-bit quotient digit, estimated from the top words and corrected, with
// the remainder (below dn) in `rem`.
inline uint64_t div_step(uint64_t uh, uint64_t um, uint64_t ul, u128 dn, u128& rem) {
  using namespace arith;
  const uint64_t d1 = wide::hi64(dn), d0 = wide::lo64(dn);
  uint64_t qhat, rhat;
  bool rhat_over = false;
  if (uh >= d1) {  // uh == d1
    qhat = ~uint64_t{0};
    const u128 t = u128(um) + u128(d1);
    rhat_over = wide::hi64(t) != 0;
    rhat = wide::lo64(t);
  } else {
    qhat = div128by64(uh, um, d1, rhat);
  }
  while (!rhat_over && wide::mul64(qhat, d0) > wide::make_u128(rhat, ul)) {
    --qhat;
    const u128 t = u128(rhat) + u128(d1);
    rhat_over = wide::hi64(t) != 0;
    rhat = wide::lo64(t);
  }
  // Now qhat is exact or one too large.
  const u128 p0 = wide::mul64(qhat, d0), p1 = wide::mul64(qhat, d1);
  const u128 mid = u128(wide::hi64(p0)) + u128(wide::lo64(p1));
  Buf24 u(ul, um, uh);
  Buf24 product(wide::lo64(p0), wide::lo64(mid), wide::hi64(p1) + wide::hi64(mid));
  if (compare(u, product) < 0) {
    --qhat;
    sub_assign(product, Buf24(dn));
  }
  sub_assign(u, product);
  rem = u.low128();
  return qhat;
}

// n / d for d in [2^64, 2^96) and a quotient below 2^128, with the remainder.
inline u128 div192by96(const Buf24& n, u128 d, u128& rem) {
  const unsigned s = static_cast<unsigned>(std::countl_zero(wide::hi64(d)));  // 32 to 63
  const u128 dn = d << s;
  const uint64_t u0 = n.w[0] << s;
  const uint64_t u1 = (n.w[1] << s) | (n.w[0] >> (64 - s));
  const uint64_t u2 = (n.w[2] << s) | (n.w[1] >> (64 - s));
  const uint64_t u3 = n.w[2] >> (64 - s);
  u128 r;
  const uint64_t q1 = div_step(u3, u2, u1, dn, r);
  const uint64_t q0 = div_step(wide::hi64(r), wide::lo64(r), u0, dn, r);
  rem = r >> s;
  return wide::make_u128(q1, q0);
}

// floor(t / d) for t < 10 d: the count of multiples of d up to t.
inline uint32_t next_digit(u128 t, u128 d) {
  uint32_t digit = 0;
  u128 m = d;
  for (int k = 1; k <= 9; ++k) {
    digit += static_cast<uint32_t>(m <= t);
    m += d;
  }
  return digit;
}

// Division by a divisor of 65 to 96 bits with a scale difference s below 28,
// computed at once: the chunked extension of the general routine ends at the
// largest E <= 28 - s with floor(a * 10^E / b) below 2^96 whenever the
// quotient never becomes exact, rounds half to even there, and overflows when
// s + E is negative. When the quotient at E is exact, or E is beyond reach
// here, the general routine decides (false).
inline bool divide_at_once(u128 ca, u128 cb, int s, bool negative, ArithResult& out) {
  using namespace arith;
  const int e_max = static_cast<int>(MAX_SCALE) - s;
  const int a_bits = static_cast<int>(wide::bit_length(ca)), b_bits = static_cast<int>(wide::bit_length(cb));
  // a * 10^e / b < 2^(a_bits - b_bits + 1) * 10^e stays below 2^96 for this e
  // (77/256 is just below log10(2)); the answer is at most two more.
  int e = ((95 - a_bits + b_bits) * 77) >> 8;
  if (e > e_max) e = e_max;
  if (e > static_cast<int>(MAX_SCALE)) return false;  // 10^e times a would leave 192 bits
  u128 r;
  u128 q = div192by96(mul96(ca, POW10_U128[e]), cb, r);
  while (e < e_max && q <= EXTEND_LIMITS[1]) {
    const u128 t = r * u128(10);
    const uint32_t digit = next_digit(t, cb);
    const u128 next = q * u128(10) + u128(digit);
    if (!fits96(next)) break;
    q = next;
    r = t - cb * u128(digit);
    ++e;
  }
  if (r == u128(0)) return false;
  int scale = s + e;
  if (scale < 0) {
    out = ArithResult::overflow();
    return true;
  }
  const u128 twice_r = r << 1u;
  if (twice_r > cb || (twice_r == cb && (wide::lo64(q) & 1) != 0)) q += u128(1);
  if (!fits96(q)) {
    // Rounding reached 2^96: one digit less, half to even on the exact value.
    if (scale <= 0) {
      out = ArithResult::overflow();
      return true;
    }
    uint64_t digit;
    q = divmod_u64(q, 10, digit);
    if (digit > 5 || (digit == 5 && (r != u128(0) || (wide::lo64(q) & 1) != 0))) q += u128(1);
    --scale;
  }
  strip_zeros(q, scale);
  out = ArithResult::ok(make_decimal(q, static_cast<uint32_t>(scale), negative));
  return true;
}

// The quotient developed in chunks of up to nine digits.
inline ArithResult div_chunked(const Decimal& a, const Decimal& b) {
  using namespace arith;
  if (b.is_zero()) return ArithResult::div_by_zero();
  if (a.is_zero()) return ArithResult::ok(Decimal());
  const bool negative = a.is_sign_negative() != b.is_sign_negative();
  int s = static_cast<int>(a.scale()) - static_cast<int>(b.scale());
  const u128 divisor = coefficient(b);
  const bool small_divisor = wide::hi64(divisor) == 0;
  DivMod qr = udivmod128(coefficient(a), divisor);
  u128 q = qr.quot, r = qr.rem;
  bool inexact = false;

  for (;;) {
    if (r == u128(0)) {
      if (s >= 0) break;
      // Exact so far but the scale is negative: append zeros.
      const int x = -s < 9 ? -s : 9;
      if (q > EXTEND_LIMITS[x]) return ArithResult::overflow();
      q = q * u128(POW10_U32[x]);
      s += x;
      continue;
    }
    inexact = true;
    int x = 0;
    if (s < static_cast<int>(MAX_SCALE)) {
      x = static_cast<int>(MAX_SCALE) - s < 9 ? static_cast<int>(MAX_SCALE) - s : 9;
      while (x > 0 && q > EXTEND_LIMITS[x]) --x;
    }
    if (x == 0) {
      if (s < 0) return ArithResult::overflow();
      const u128 twice_r = r << 1u;  // r < divisor < 2^96
      if (twice_r > divisor || (twice_r == divisor && (wide::lo64(q) & 1) != 0)) q += u128(1);
    } else {
      s += x;
      const u128 scale_up(POW10_U32[x]);
      q = q * scale_up;
      const u128 t = r * scale_up;  // below 2^126; t / divisor below 10^x
      if (small_divisor) {
        uint64_t rem;
        q += u128(div128by64(wide::hi64(t), wide::lo64(t), wide::lo64(divisor), rem));
        r = u128(rem);
      } else {
        qr = udivmod128(t, divisor);
        q += qr.quot;
        r = qr.rem;
      }
    }
    if (!fits96(q)) {
      // The quotient reached 2^96: drop one digit, half to even on the exact value.
      if (s <= 0) return ArithResult::overflow();
      uint64_t digit;
      q = divmod_u64(q, 10, digit);
      if (digit > 5 || (digit == 5 && (r != u128(0) || (wide::lo64(q) & 1) != 0))) q += u128(1);
      --s;
      break;
    }
    if (x == 0) break;
  }
  if (inexact) strip_zeros(q, s);
  return ArithResult::ok(make_decimal(q, static_cast<uint32_t>(s), negative));
}

}  // namespace

ArithResult arith::div_general(const Decimal& a, const Decimal& b) { return div_chunked(a, b); }

ArithResult div_impl(const Decimal& a, const Decimal& b) {
  using namespace arith;
  const int s = static_cast<int>(a.scale()) - static_cast<int>(b.scale());
  if (b.hi() != 0 && !a.is_zero() && s < static_cast<int>(MAX_SCALE)) {
    ArithResult out;
    if (divide_at_once(coefficient(a), coefficient(b), s, a.is_sign_negative() != b.is_sign_negative(), out)) {
      return out;
    }
  }
  return div_chunked(a, b);
}

}  // namespace vexlor
