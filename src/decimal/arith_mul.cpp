#include "decimal/arith_internal.hpp"

namespace vexlor {

ArithResult arith::mul_general(const Decimal& a, const Decimal& b) {
  if (a.is_zero() || b.is_zero()) return ArithResult::ok(Decimal());
  const bool negative = a.is_sign_negative() != b.is_sign_negative();
  const int scale = static_cast<int>(a.scale() + b.scale());
  return rescale(mul96(coefficient(a), coefficient(b)), scale, negative);
}

ArithResult mul_impl(const Decimal& a, const Decimal& b) {
  using namespace arith;
  if ((a.hi() | b.hi()) == 0) {
    if (a.lo() == 0 || b.lo() == 0) return ArithResult::ok(Decimal());
    const bool negative = a.is_sign_negative() != b.is_sign_negative();
    const uint32_t scale = a.scale() + b.scale();
    const u128 p = wide::mul64(a.lo(), b.lo());
    if (scale <= MAX_SCALE && fits96(p)) return ArithResult::ok(make_decimal(p, scale, negative));
    return rescale(Buf24(p), static_cast<int>(scale), negative);
  }
  return mul_general(a, b);
}

}  // namespace vexlor
