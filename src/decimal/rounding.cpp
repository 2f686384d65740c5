#include "decimal/dec_wide.hpp"
#include "decimal/decimal.hpp"

namespace vexlor {

Decimal Decimal::floor() const {
  if (scale() == 0) return *this;
  const Decimal whole = trunc();
  if (is_sign_negative() && !fract().is_zero()) return sub_impl(whole, Decimal::one()).value;
  return whole;
}

Decimal Decimal::ceil() const {
  if (scale() == 0) return *this;
  const Decimal whole = trunc();
  if (!is_sign_negative() && !fract().is_zero()) return add_impl(whole, Decimal::one()).value;
  return whole;
}

// Rounds half to even (the midpoint-nearest-even strategy, the only one used).
Decimal Decimal::round_dp(uint32_t dp) const {
  const uint32_t s = scale();
  if (dp >= s) return *this;
  detail::U96 c = detail::U96::from_coefficient(*this);
  c.div_pow10_round(s - dp);
  const uint64_t lo = uint64_t{c.w[0]} | (uint64_t{c.w[1]} << 32);
  const bool zero = lo == 0 && c.w[2] == 0;
  return from_parts(lo, c.w[2], dp, is_sign_negative() && !zero);
}

}  // namespace vexlor
