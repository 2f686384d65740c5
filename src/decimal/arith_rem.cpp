#include "decimal/arith_internal.hpp"

namespace vexlor {

ArithResult rem_impl(const Decimal& a, const Decimal& b) {
  using namespace arith;
  if (b.is_zero()) return ArithResult::div_by_zero();
  if (a.is_zero()) return ArithResult::ok(Decimal());
  const uint32_t sa = a.scale(), sb = b.scale();
  const uint32_t scale = sa > sb ? sa : sb;
  if ((a.hi() | b.hi()) == 0) {
    // Both below 2^64: when the rescaled one still fits in 64 bits, one 64-bit division.
    const uint32_t d = sa > sb ? sa - sb : sb - sa;
    if (d <= 19) {
      const u128 scaled = wide::mul64(sa > sb ? b.lo() : a.lo(), POW10_U64[d]);
      if (wide::hi64(scaled) == 0) {
        const uint64_t x = sa > sb ? a.lo() : wide::lo64(scaled);
        const uint64_t y = sa > sb ? wide::lo64(scaled) : b.lo();
        if (x == y) return ArithResult::ok(Decimal());
        if (x < y) return ArithResult::ok(a);
        uint64_t r;
        div128by64(0, x, y, r);
        return ArithResult::ok(make_decimal(u128(r), scale, a.is_sign_negative()));
      }
    }
  }
  const u128 ca = coefficient(a), cb = coefficient(b);

  // Compare |a| and |b| at the larger scale (exact, at most 190 bits).
  Buf24 x(ca), y(cb);
  if (sa < sb) mul_pow10(x, sb - sa);
  if (sb < sa) mul_pow10(y, sa - sb);
  const int c = compare(x, y);
  if (c == 0) return ArithResult::ok(Decimal());
  if (c < 0) return ArithResult::ok(a);

  u128 r;
  if (sa >= sb) {
    // |b| scaled up is below |a| < 2^96.
    r = udivmod128(ca, y.low128()).rem;
  } else {
    // (ca * 10^d) mod cb, reducing after every step of at most nine digits
    // (anything below 2^96 times 10^9 stays below 2^126).
    r = ca;
    for (uint32_t d = sb - sa; d > 0;) {
      const uint32_t step = d < 9 ? d : 9;
      r = udivmod128(r * u128(POW10_U32[step]), cb).rem;
      d -= step;
    }
  }
  return ArithResult::ok(make_decimal(r, scale, a.is_sign_negative()));
}

}  // namespace vexlor
