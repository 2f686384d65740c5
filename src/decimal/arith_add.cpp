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

[[gnu::noinline]] ArithResult zero_or_general(const Decimal& a, const Decimal& b, bool negate_b) {
  ArithResult zero_case;
  if (zero_operand(a, b, negate_b, zero_case)) return zero_case;
  return add_sub_general(a, b, negate_b);
}

// The sum x * 10^d +- y, whose exact value must drop k digits with 0 < k <=
// d, at y's scale. Only y needs dividing:
// (x * 10^d +- y) / 10^k = x * 10^(d-k) +- y / 10^k.
// `negative` is the sign of the sum (x dominates it, as x * 10^d >= 2^96 > y).
inline ArithResult drop_from_sum(u128 x, u128 y, bool subtract, uint32_t d, int k, uint32_t scale, bool negative) {
  u128 y_rem;
  const u128 y_quot = divmod_pow10(y, static_cast<unsigned>(k), y_rem);
  const u128 unit = POW10_U128[k];
  u128 q = x * POW10_U128[d - static_cast<uint32_t>(k)];  // below 2^97
  u128 dropped = y_rem;
  if (!subtract) {
    q += y_quot;
  } else if (y_rem == u128(0)) {
    q -= y_quot;
  } else {
    q -= y_quot + u128(1);
    dropped = unit - y_rem;
  }
  // k is exact, so rounding up stays below 2^96.
  const u128 half = unit >> 1u;
  if (dropped > half || (dropped == half && (wide::lo64(q) & 1) != 0)) q += u128(1);
  return ArithResult::ok(make_decimal(q, scale - static_cast<uint32_t>(k), negative));
}

// x * 10^d + y (signed) for non-zero x, y below 2^96 and 0 < d <= 28, at y's
// scale, when that needs more than 128 bits on the way.
inline ArithResult scaled_sum(u128 x, bool neg_x, u128 y, bool neg_y, uint32_t d, uint32_t scale) {
  Buf24 sum = mul96(x, POW10_U128[d]);
  if (sum.fits96()) return signed_sum(sum, neg_x, Buf24(y), neg_y, static_cast<int>(scale));
  // Here x * 10^d >= 2^96 > y, so the sum has x's sign.
  const bool subtract = neg_x != neg_y;
  if (subtract) {
    sub_assign(sum, Buf24(y));
  } else {
    add_assign(sum, Buf24(y));
  }
  const int k = digits_to_drop(sum);
  if (k == 0) return ArithResult::ok(make_decimal(sum.low128(), scale, neg_x));
  if (k > static_cast<int>(d)) return rescale(sum, static_cast<int>(scale), neg_x);
  return drop_from_sum(x, y, subtract, d, k, scale, neg_x);
}

// A 128-bit sum r = x * 10^d +- y that left 96 bits.
inline ArithResult reduce(u128 r, u128 x, u128 y, bool subtract, uint32_t d, uint32_t scale, bool negative) {
  const Buf24 sum(r);
  const int k = digits_to_drop(sum);
  if (k > static_cast<int>(d)) return rescale(sum, static_cast<int>(scale), negative);
  return drop_from_sum(x, y, subtract, d, k, scale, negative);
}

// x, the operand with the smaller scale, and y, with d the difference of
// their scales.
struct Aligned {
  const Decimal& x;
  const Decimal& y;
  uint32_t d;
  uint32_t scale;
  bool neg_x, neg_y;
};

inline Aligned align(const Decimal& a, const Decimal& b, bool negate_b) {
  const uint32_t sa = a.scale(), sb = b.scale();
  const bool neg_a = a.is_sign_negative(), neg_b = b.is_sign_negative() != negate_b;
  if (sa > sb) return {b, a, sa - sb, sa, neg_b, neg_a};
  return {a, b, sb - sa, sb, neg_a, neg_b};
}

// Scaling differences up to 19 digits run in 128-bit words: x times 10^d
// stays below 2^126 whenever that product's top word is small, so the signed
// sum with y (below 2^96) cannot wrap. Sets `r` and `negative` and returns
// true when that is so.
inline bool sum128(const Aligned& o, u128& r, bool& negative) {
  if (o.d > 19) return false;
  const uint64_t p = POW10_U64[o.d];
  const u128 low = wide::mul64(o.x.lo(), p);
  const u128 high = wide::mul64(o.x.hi(), p);  // below 2^96
  const uint64_t top = wide::hi64(low) + wide::lo64(high);
  if (wide::hi64(high) != 0 || top < wide::lo64(high) || (top >> 62) != 0) return false;
  const u128 x = wide::make_u128(top, wide::lo64(low));
  const u128 y = coefficient(o.y);
  if (o.neg_x == o.neg_y) {
    r = x + y;
    negative = o.neg_x;
  } else if (x >= y) {
    r = x - y;
    negative = o.neg_x;
  } else {
    r = y - x;
    negative = o.neg_y;
  }
  return true;
}

// Sums that leave 96 bits, or need more than 128 bits on the way.
[[gnu::noinline]] ArithResult wide_add_sub(const Decimal& a, const Decimal& b, bool negate_b) {
  const Aligned o = align(a, b, negate_b);
  u128 r;
  bool negative;
  if (sum128(o, r, negative)) {
    return reduce(r, coefficient(o.x), coefficient(o.y), o.neg_x != o.neg_y, o.d, o.scale, negative);
  }
  return scaled_sum(coefficient(o.x), o.neg_x, coefficient(o.y), o.neg_y, o.d, o.scale);
}

inline ArithResult add_sub_internal(const Decimal& a, const Decimal& b, bool negate_b) {
  if (a.is_zero() || b.is_zero()) return zero_or_general(a, b, negate_b);
  const Aligned o = align(a, b, negate_b);
  u128 r;
  bool negative;
  if (sum128(o, r, negative) && fits96(r)) return ArithResult::ok(make_decimal(r, o.scale, negative));
  return wide_add_sub(a, b, negate_b);
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
