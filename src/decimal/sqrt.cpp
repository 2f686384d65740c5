#include "decimal/decimal.hpp"

namespace vexlor {

namespace {

constexpr int SQRT_MAX_ROUNDS = 1000;
constexpr const char* SQRT_ROUND_LIMIT = "geo mean circuit breaker";
constexpr const char* SQRT_OVERFLOW = "Overflow in square root";

}  // namespace

// Newton's iteration on Decimal arithmetic; the digits and scale of the result
// follow from this exact sequence of operations.
MathResult sqrt(const Decimal& x) {
  if (x.is_sign_negative()) return MathResult::nothing();
  if (x.is_zero()) return MathResult::ok(Decimal::zero());

  const Decimal two = Decimal::from_parts(2, 0, 0, false);
  ArithResult step = div_impl(x, two);
  if (!step.is_ok()) return MathResult::internal_fault(SQRT_OVERFLOW);
  Decimal guess = step.value.is_zero() ? x : step.value;
  step = add_impl(guess, Decimal::one());
  if (!step.is_ok()) return MathResult::internal_fault(SQRT_OVERFLOW);
  Decimal last = step.value;

  for (int round = 0; last.cmp(guess) != 0; ++round) {
    if (round == SQRT_MAX_ROUNDS) return MathResult::internal_fault(SQRT_ROUND_LIMIT);
    last = guess;
    const ArithResult quotient = div_impl(x, guess);
    if (!quotient.is_ok()) return MathResult::internal_fault(SQRT_OVERFLOW);
    const ArithResult sum = add_impl(guess, quotient.value);
    if (!sum.is_ok()) return MathResult::internal_fault(SQRT_OVERFLOW);
    const ArithResult half = div_impl(sum.value, two);
    if (!half.is_ok()) return MathResult::internal_fault(SQRT_OVERFLOW);
    guess = half.value;
  }
  return MathResult::ok(guess);
}

}  // namespace vexlor
