#pragma once
// The abstract value of the static analysis: every Decimal a stack slot may
// hold, as a closed interval of exact decimals, a range of scales and whether a
// negative zero is possible. A bound at the largest magnitude (Decimal::max_value)
// stands for "unbounded": no Decimal lies beyond it. Transfer functions mirror
// the machine's arithmetic: they evaluate the operation at the interval's
// corners with the same decimal code and widen by one unit where a corner was
// rounded, so every result of the operation lies inside.

#include <cstdint>
#include <optional>

#include "decimal/decimal.hpp"

namespace vexlor::analysis {

struct Interval {
  Decimal lo = Decimal::min_value();
  Decimal hi = Decimal::max_value();
  uint8_t min_scale = 0;
  uint8_t max_scale = MAX_SCALE;
  bool neg_zero = true;  // a value with the sign bit set and coefficient 0 is possible
  bool excludes_zero = false;  // zero lies between lo and hi but is not possible
  // Set by the analyzer: the value is that of variable `var` - 1 / is the truth
  // of condition `cond` - 1; 0 when not known.
  uint32_t var = 0;
  uint32_t cond = 0;

  static Interval any() { return Interval{}; }
  static Interval exactly(const Decimal& v);
  static Interval boolean();  // 0 or 1, scale 0
  static Interval range(const Decimal& lo, const Decimal& hi, uint8_t min_scale, uint8_t max_scale, bool neg_zero);

  bool may_be_zero() const {
    return !excludes_zero && lo.cmp(Decimal::zero()) <= 0 && hi.cmp(Decimal::zero()) >= 0;
  }
  bool only_zero() const { return lo.is_zero() && hi.is_zero(); }
  bool may_be_nonzero() const { return !only_zero(); }
  bool may_be_negative() const { return lo.cmp(Decimal::zero()) < 0; }
  bool unbounded_below() const { return lo.same_repr(Decimal::min_value()); }
  bool unbounded_above() const { return hi.same_repr(Decimal::max_value()); }
  bool is_point() const { return lo.cmp(hi) == 0; }
};

// The union of two sets (the join at a merge point).
Interval join(const Interval& a, const Interval& b);

// Outcome of a transfer function: the result's interval and which failures
// some operands inside the intervals may cause.
struct Transfer {
  Interval value;
  bool may_overflow = false;
  bool may_divide_by_zero = false;
  bool always_fails = false;  // no operands inside the intervals give a value
};

Transfer add(const Interval& a, const Interval& b);
Transfer sub(const Interval& a, const Interval& b);
Transfer mul(const Interval& a, const Interval& b);
Transfer div(const Interval& a, const Interval& b);
Transfer floor_div(const Interval& a, const Interval& b);
Transfer rem(const Interval& a, const Interval& b);
Transfer pow(const Interval& a, const Interval& b);
Interval neg(const Interval& a);
Interval floor(const Interval& a);
Interval ceil(const Interval& a);
Interval abs(const Interval& a);
Interval round_places(const Interval& x, const Interval& places);  // places already known valid
Interval sqrt(const Interval& x);                                  // the non-negative part of x

// Truth of a condition value: may it be false (zero) / true (non-zero)?
inline bool may_be_false(const Interval& v) { return v.may_be_zero(); }
inline bool may_be_true(const Interval& v) { return v.may_be_nonzero(); }

// Comparisons and logic: 0, 1 or either.
Interval compare(int op, const Interval& a, const Interval& b);  // op: OpKind of Eq..Ge
Interval logic_not(const Interval& a);
Interval logic_and(const Interval& a, const Interval& b);
Interval logic_or(const Interval& a, const Interval& b);

// The values of `x` for which `x op c` holds (op: OpKind of Eq..Ge); none when
// no value of x is left.
std::optional<Interval> restrict(const Interval& x, int op, const Decimal& c);
// The comparison that holds when `op` does not (Lt <-> Ge, ...), and the one that
// holds with the operands swapped (Lt <-> Gt, ...).
int negated(int op);
int swapped(int op);

// The largest gas a Pow with exponents in `b` costs: 1 + ceil(|b|), saturating.
uint64_t pow_cost(const Interval& b);

}  // namespace vexlor::analysis
