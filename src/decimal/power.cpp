#include "decimal/dec_wide.hpp"
#include "decimal/decimal.hpp"
#include "decimal/power_internal.hpp"

namespace vexlor {

namespace {

using detail::DecWide;

// Below this exponent the power is taken with Decimal products; from it on in
// DecWide with one rounding back at the end.
constexpr uint64_t WIDE_POWER_FROM = 1024;

bool is_one(const Decimal& d) { return d.cmp(Decimal::one()) == 0; }

MathResult from_arith(const ArithResult& r) {
  return r.is_ok() ? MathResult::ok(r.value) : MathResult::nothing();
}

// Binary exponentiation reading the bits of n from the lowest; n >= 3.
MathResult powu_decimal(const Decimal& base, uint64_t n) {
  Decimal acc = (n & 1) ? base : Decimal::one();
  Decimal power = base;
  for (uint64_t rest = n >> 1; rest != 0; rest >>= 1) {
    const ArithResult sq = mul_impl(power, power);
    if (!sq.is_ok()) return MathResult::nothing();
    power = sq.value;
    if (rest & 1) {
      const ArithResult next = mul_impl(acc, power);
      if (!next.is_ok()) return MathResult::nothing();
      acc = next.value;
    }
  }
  return MathResult::ok(acc.normalize());
}

MathResult powu_dec_wide(const Decimal& base, uint64_t n) {
  DecWide acc = (n & 1) ? DecWide::from_decimal(base) : DecWide::one();
  DecWide power = DecWide::from_decimal(base);
  for (uint64_t rest = n >> 1; rest != 0; rest >>= 1) {
    const auto sq = power.mul(power);
    if (!sq) return MathResult::nothing();
    power = *sq;
    if (rest & 1) {
      const auto next = acc.mul(power);
      if (!next) return MathResult::nothing();
      acc = *next;
    }
  }
  const auto result = acc.to_decimal();
  if (!result) return MathResult::nothing();
  return MathResult::ok(result->normalize());
}

}  // namespace

MathResult powu_wide(const Decimal& base, uint64_t n) {
  if (n == 0) return MathResult::ok(Decimal::one());
  if (base.is_zero()) return MathResult::ok(Decimal::zero());
  if (is_one(base)) return MathResult::ok(Decimal::one());
  if (n == 1) return MathResult::ok(base);
  if (n == 2) return from_arith(mul_impl(base, base));
  if (n < WIDE_POWER_FROM) return powu_decimal(base, n);
  return powu_dec_wide(base, n);
}

MathResult checked_powi(const Decimal& base, int64_t n) {
  if (n >= 0) return powu_wide(base, static_cast<uint64_t>(n));
  const uint64_t magnitude = uint64_t{0} - static_cast<uint64_t>(n);
  const MathResult positive = powu_wide(base, magnitude);
  if (!positive.is_ok()) return positive;
  // An exact positive power keeps the division's scale rules; a rounded one
  // would pass its rounding on, so the reciprocal is taken from the exact
  // base instead.
  if (detail::power_is_exact(base, magnitude)) {
    return from_arith(div_impl(Decimal::one(), positive.value));
  }
  const auto reciprocal = detail::reciprocal_power(base, magnitude);
  return reciprocal ? MathResult::ok(*reciprocal) : MathResult::nothing();
}

MathResult checked_powd(const Decimal& base, const Decimal& exponent) {
  if (exponent.is_zero()) return MathResult::ok(Decimal::one());
  if (base.is_zero()) return MathResult::ok(Decimal::zero());
  if (is_one(base)) return MathResult::ok(Decimal::one());
  if (is_one(exponent)) return MathResult::ok(base);

  const Decimal p = exponent.normalize();
  if (p.scale() == 0) {
    if (p.hi() != 0 || p.lo() >= (uint64_t{1} << 32)) return MathResult::nothing();
    const int64_t whole = static_cast<int64_t>(p.lo());
    if (p.is_sign_negative()) return checked_powi(base, -whole);
    return powu_wide(base, static_cast<uint64_t>(whole));
  }

  const MathResult ln = ln_wide(base.abs());
  if (!ln.is_ok()) return ln;
  const ArithResult product = mul_impl(ln.value, exponent);
  if (!product.is_ok()) {
    // A product beyond the range towards minus infinity is the exponent of a
    // power far below the smallest unit: a zero, like exp_wide gives for it.
    if (ln.value.is_sign_negative() == exponent.is_sign_negative()) return MathResult::nothing();
    const Decimal zero = Decimal::zero();
    return MathResult::ok(base.is_sign_negative() ? -zero : zero);
  }
  MathResult result = exp_wide(product.value);
  if (result.is_ok() && base.is_sign_negative()) result.value = -result.value;
  return result;
}

}  // namespace vexlor
