#include "decimal/arith_internal.hpp"

namespace vexlor {
namespace arith {
namespace {

// Signed sum of two magnitudes at a common scale.
ArithResult signed_sum(Buf24 x, bool neg_x, const Buf24& y, bool neg_y, int scale) {
  if (neg_x == neg_y) {
    add_assign(x, y);  // at most 191 bits
    return rescale(x, scale, neg_x);
  }
  const int c = compare(x, y);
  if (c == 0) return ArithResult::ok(Decimal::from_parts(0, 0, static_cast<uint32_t>(scale), false));
  if (c > 0) {
    sub_assign(x, y);
    return rescale(x, scale, neg_x);
  }
  Buf24 r = y;
  sub_assign(r, x);
  return rescale(r, scale, neg_y);
}

// Sum of two non-zero 96-bit coefficients at the same scale (fits in 97 bits).
ArithResult same_scale_sum(u128 x, bool neg_x, u128 y, bool neg_y, uint32_t scale) {
  if (neg_x == neg_y) {
    const u128 s = x + y;
    if (fits96(s)) return ArithResult::ok(make_decimal(s, scale, neg_x));
    return rescale(Buf24(s), static_cast<int>(scale), neg_x);
  }
  if (x > y) return ArithResult::ok(make_decimal(x - y, scale, neg_x));
  if (x < y) return ArithResult::ok(make_decimal(y - x, scale, neg_y));
  return ArithResult::ok(Decimal::from_parts(0, 0, scale, false));
}

// Zero operands: the other operand is passed on unchanged (b with its sign
// inverted for a subtraction, unless b is zero as well).
inline bool zero_operand(const Decimal& a, const Decimal& b, bool negate_b, ArithResult& out) {
  if (a.is_zero()) {
    out = ArithResult::ok(negate_b && !b.is_zero() ? -b : b);
    return true;
  }
  if (b.is_zero()) {
    out = ArithResult::ok(a);
    return true;
  }
  return false;
}

ArithResult add_sub_internal(const Decimal& a, const Decimal& b, bool negate_b) {
  ArithResult zero_case;
  if (zero_operand(a, b, negate_b, zero_case)) return zero_case;
  const bool neg_a = a.is_sign_negative();
  const bool neg_b = b.is_sign_negative() != negate_b;
  const uint32_t sa = a.scale(), sb = b.scale();
  if (sa == sb) return same_scale_sum(coefficient(a), neg_a, coefficient(b), neg_b, sa);
  if ((a.hi() | b.hi()) == 0) {
    // Both coefficients below 2^64: scale the one with the smaller scale by
    // 10^d in one 64x64 product; if that stays below 2^95 the sum fits.
    const bool a_smaller = sa < sb;
    const uint32_t d = a_smaller ? sb - sa : sa - sb;
    if (d <= 19) {
      const u128 scaled = wide::mul64(a_smaller ? a.lo() : b.lo(), POW10_U64[d]);
      if (wide::hi64(scaled) < (uint64_t{1} << 31)) {
        const u128 other(a_smaller ? b.lo() : a.lo());
        const uint32_t s = a_smaller ? sb : sa;
        return a_smaller ? same_scale_sum(scaled, neg_a, other, neg_b, s)
                         : same_scale_sum(other, neg_a, scaled, neg_b, s);
      }
    }
  }
  return add_sub_general(a, b, negate_b);
}

}  // namespace

ArithResult add_sub_general(const Decimal& a, const Decimal& b, bool negate_b) {
  ArithResult zero_case;
  if (zero_operand(a, b, negate_b, zero_case)) return zero_case;
  const bool neg_a = a.is_sign_negative();
  const bool neg_b = b.is_sign_negative() != negate_b;
  const uint32_t sa = a.scale(), sb = b.scale();
  Buf24 x(coefficient(a)), y(coefficient(b));
  if (sa < sb) mul_pow10(x, sb - sa);  // at most 96 + 94 bits
  if (sb < sa) mul_pow10(y, sa - sb);
  return signed_sum(x, neg_a, y, neg_b, static_cast<int>(sa > sb ? sa : sb));
}

}  // namespace arith

ArithResult add_impl(const Decimal& a, const Decimal& b) { return arith::add_sub_internal(a, b, false); }
ArithResult sub_impl(const Decimal& a, const Decimal& b) { return arith::add_sub_internal(a, b, true); }

}  // namespace vexlor
