#include <array>
#include <optional>

#include "decimal/dec_wide.hpp"
#include "decimal/decimal.hpp"

namespace vexlor {

namespace {

using detail::DecWide;

constexpr const char* LN_FAILED = "Calculation of ln failed for unknown reasons";
constexpr const char* LN_OF_ZERO = "Unable to calculate ln for zero";

// e and 1/e rounded to 28 decimals.
constexpr Decimal E = Decimal::from_parts(0xEBECDE35857AED5Aull, 0x57D519ABu, 28, false);
constexpr Decimal INV_E = Decimal::from_parts(0xAA58AC528E19DB46ull, 0x0BE30704u, 28, false);

constexpr uint32_t LN_LAST_DIVISOR = 199;
constexpr uint32_t EXP_LAST_DIVISOR = 99;
// e^k is beyond the Decimal range from k = 67 on.
constexpr uint64_t EXP_FIRST_OUT_OF_RANGE = 67;

// 2 atanh(z) = ln r, with r = x e^-whole brought to (1/e, 1) (a hair above 1
// when the last step multiplies 1/e by e: the two constants multiply to more than 1).
std::optional<Decimal> ln_positive(const Decimal& x, int64_t& whole) {
  const DecWide e = DecWide::from_decimal(E);
  const DecWide inv_e = DecWide::from_decimal(INV_E);
  const DecWide one = DecWide::one();
  DecWide r = DecWide::from_decimal(x);
  whole = 0;
  while (r.cmp(one) >= 0) {
    const auto next = r.mul(inv_e);
    if (!next) return std::nullopt;
    r = *next;
    ++whole;
  }
  while (r.cmp(inv_e) <= 0) {
    const auto next = r.mul(e);
    if (!next) return std::nullopt;
    r = *next;
    --whole;
  }
  const DecWide z = DecWide::atanh_argument(r);
  const auto z2 = z.mul(z);
  if (!z2) return std::nullopt;
  DecWide sum = z;
  DecWide power = z;
  for (uint32_t divisor = 3; divisor <= LN_LAST_DIVISOR; divisor += 2) {
    const auto next_power = power.mul(*z2);
    if (!next_power) return std::nullopt;
    power = *next_power;
    const DecWide term = power.div_u32(divisor);
    if (term.below_half_unit()) break;
    const auto next_sum = sum.add(term);
    if (!next_sum) return std::nullopt;
    sum = *next_sum;
  }
  const auto doubled = sum.add(sum);
  if (!doubled) return std::nullopt;
  return doubled->to_decimal();
}

}  // namespace

MathResult ln_wide(const Decimal& x) {
  if (x.is_zero()) return MathResult::internal_fault(LN_OF_ZERO);
  if (x.is_sign_negative()) return MathResult::internal_fault(LN_FAILED);
  if (x.cmp(Decimal::one()) == 0) return MathResult::ok(Decimal::zero());
  int64_t whole = 0;
  const auto fraction = ln_positive(x, whole);
  if (!fraction) return MathResult::internal_fault(LN_FAILED);
  const ArithResult sum = add_impl(*fraction, Decimal::new_(whole, 0));
  if (!sum.is_ok()) return MathResult::internal_fault(LN_FAILED);
  return MathResult::ok(sum.value.normalize());
}

namespace {

// e^k (1 <= k < EXP_FIRST_OUT_OF_RANGE) by binary exponentiation of the
// constant e, the bits of k read from the lowest.
std::optional<DecWide> e_power_uncached(uint64_t k) {
  DecWide acc = DecWide::one();
  DecWide power = DecWide::from_decimal(E);
  for (uint64_t rest = k; rest != 0;) {
    if (rest & 1) {
      const auto next = acc.mul(power);
      if (!next) return std::nullopt;
      acc = *next;
    }
    rest >>= 1;
    if (rest != 0) {
      const auto sq = power.mul(power);
      if (!sq) return std::nullopt;
      power = *sq;
    }
  }
  return acc;
}

// The same powers, formed once (a function-local static: thread-safe).
const std::optional<DecWide>& e_power(uint64_t k) {
  static const auto table = [] {
    std::array<std::optional<DecWide>, EXP_FIRST_OUT_OF_RANGE> t{};
    for (uint64_t i = 1; i < EXP_FIRST_OUT_OF_RANGE; ++i) t[i] = e_power_uncached(i);
    return t;
  }();
  return table[k];
}

// exp(x) for x >= 0 (the sign bit of x is ignored), normalized.
MathResult exp_magnitude(const Decimal& x) {
  const Decimal whole_part = x.abs().trunc();
  if (whole_part.hi() != 0 || whole_part.lo() >= EXP_FIRST_OUT_OF_RANGE) return MathResult::nothing();
  const uint64_t whole = whole_part.lo();
  const ArithResult fraction = sub_impl(x.abs(), whole_part);
  if (!fraction.is_ok()) return MathResult::nothing();
  const DecWide f = DecWide::from_decimal(fraction.value);

  DecWide sum = DecWide::one();
  DecWide term = DecWide::one();
  for (uint32_t i = 1; i <= EXP_LAST_DIVISOR; ++i) {
    const auto next = term.mul(f);
    if (!next) return MathResult::nothing();
    term = i > 1 ? next->div_u32(i) : *next;
    if (term.below_half_unit()) break;
    const auto next_sum = sum.add(term);
    if (!next_sum) return MathResult::nothing();
    sum = *next_sum;
  }

  if (whole > 0) {
    const std::optional<DecWide>& e_whole = e_power(whole);
    if (!e_whole) return MathResult::nothing();
    const auto scaled = sum.mul(*e_whole);
    if (!scaled) return MathResult::nothing();
    sum = *scaled;
  }
  const auto result = sum.to_decimal();
  if (!result) return MathResult::nothing();
  return MathResult::ok(result->normalize());
}

}  // namespace

MathResult exp_wide(const Decimal& x) {
  if (!x.is_sign_negative() || x.is_zero()) return exp_magnitude(x);
  const MathResult magnitude = exp_magnitude(x);
  // An exponential beyond the Decimal range has a reciprocal below the
  // smallest unit: that is a zero, like any quotient that rounds away.
  if (!magnitude.is_ok()) return MathResult::ok(Decimal::zero());
  const ArithResult q = div_impl(Decimal::one(), magnitude.value);
  return q.is_ok() ? MathResult::ok(q.value) : MathResult::nothing();
}

}  // namespace vexlor
