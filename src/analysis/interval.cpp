#include "analysis/interval.hpp"

#include <algorithm>
#include <initializer_list>

#include "compiler/bytecode.hpp"

namespace vexlor::analysis {
namespace {

constexpr Decimal ZERO = Decimal::zero();
constexpr Decimal ONE = Decimal::one();

Decimal unit(uint32_t scale) { return Decimal::from_parts(1, 0, scale, false); }
const Decimal& dmin(const Decimal& a, const Decimal& b) { return b.cmp(a) < 0 ? b : a; }
const Decimal& dmax(const Decimal& a, const Decimal& b) { return b.cmp(a) > 0 ? b : a; }
Decimal magnitude(const Interval& v) { return dmax(v.lo.abs(), v.hi.abs()); }
// lo <= 0 <= hi, whether or not zero itself is excluded: the smallest magnitude
// is then not at an end.
bool spans_zero(const Interval& v) { return v.lo.cmp(Decimal::zero()) <= 0 && v.hi.cmp(Decimal::zero()) >= 0; }
// True when every value of magnitude `m` fits at scale `s` without rounding.
bool fits_at(const Decimal& m, uint32_t s) { return m.cmp(Decimal::from_parts(~uint64_t{0}, ~uint32_t{0}, s, false)) <= 0; }

Decimal saturate(const ArithResult& r, bool negative) {
  if (r.is_ok()) return r.value;
  return negative ? Decimal::min_value() : Decimal::max_value();
}
Decimal widen_down(const Decimal& v, uint32_t s) { return saturate(sub_impl(v, unit(s)), true); }
Decimal widen_up(const Decimal& v, uint32_t s) { return saturate(add_impl(v, unit(s)), false); }
uint8_t cap(uint32_t s) { return static_cast<uint8_t>(std::min<uint32_t>(s, MAX_SCALE)); }

bool neg_zero_of(const Interval& r, bool operands) { return r.may_be_zero() && (r.may_be_negative() || operands); }

// Corner evaluation of a monotone operation: the extreme results over the
// corners given. A side whose extreme corner was rounded is widened by one unit
// of that result's scale: operands inside the box round on grids no coarser
// near that extreme, so their results stay within.
struct Corners {
  Decimal lo = Decimal::max_value(), hi = Decimal::min_value();
  bool overflow = false, lo_rounded = false, hi_rounded = false;
  uint32_t lo_scale = MAX_SCALE, hi_scale = MAX_SCALE;
  void take(const ArithResult& r, bool overflow_negative, bool exact) {
    if (!r.is_ok()) {
      overflow = true;
      take_value(overflow_negative ? Decimal::min_value() : Decimal::max_value(), true);
      return;
    }
    take_value(r.value, exact);
  }
  void take_value(const Decimal& v, bool exact) {
    const auto below = v.cmp(lo), above = v.cmp(hi);
    if (below < 0) {
      lo = v;
      lo_rounded = !exact;
      lo_scale = v.scale();
    } else if (below == 0 && !exact) {
      lo_rounded = true;
      lo_scale = std::min(lo_scale, v.scale());
    }
    if (above > 0) {
      hi = v;
      hi_rounded = !exact;
      hi_scale = v.scale();
    } else if (above == 0 && !exact) {
      hi_rounded = true;
      hi_scale = std::min(hi_scale, v.scale());
    }
  }
  void finish() {
    if (lo_rounded && !lo.same_repr(Decimal::min_value())) lo = widen_down(lo, lo_scale);
    if (hi_rounded && !hi.same_repr(Decimal::max_value())) hi = widen_up(hi, hi_scale);
  }
};

bool add_exact(const Decimal& x, const Decimal& y, const ArithResult& r) {
  return r.is_ok() && (x.is_zero() || y.is_zero() || r.value.scale() == std::max(x.scale(), y.scale()));
}
bool mul_exact(const Decimal& x, const Decimal& y, const ArithResult& r) {
  return r.is_ok() && (x.is_zero() || y.is_zero() || r.value.scale() == x.scale() + y.scale());
}
bool div_exact(const Decimal& x, const Decimal& y, const ArithResult& q) {
  if (!q.is_ok()) return false;
  const ArithResult back = mul_impl(q.value, y);
  return mul_exact(q.value, y, back) && back.value.cmp(x) == 0;
}
bool negative(const Decimal& v) { return v.cmp(ZERO) < 0; }

Interval finish_interval(Corners& c, uint8_t min_scale, uint8_t max_scale, bool operands_neg_zero) {
  c.finish();
  Interval r;
  r.lo = c.lo;
  r.hi = c.hi;
  r.min_scale = std::min(min_scale, max_scale);
  r.max_scale = max_scale;
  r.neg_zero = neg_zero_of(r, operands_neg_zero);
  return r;
}

// Quotients of a by the divisors in [d_lo, d_hi], an interval of one sign.
void quotient_corners(Corners& c, const Interval& a, const Decimal& d_lo, const Decimal& d_hi) {
  for (const Decimal* x : {&a.lo, &a.hi})
    for (const Decimal* y : {&d_lo, &d_hi}) {
      const ArithResult q = div_impl(*x, *y);
      c.take(q, negative(*x) != negative(*y), div_exact(*x, *y, q));
    }
}

Transfer divide(const Interval& a, const Interval& b) {
  Transfer t;
  if (b.may_be_zero()) t.may_divide_by_zero = true;
  if (b.only_zero()) {
    t.always_fails = true;
    return t;
  }
  Corners c;
  const Decimal eps = unit(b.max_scale);
  if (b.hi.cmp(ZERO) > 0) quotient_corners(c, a, dmax(b.lo, eps), b.hi);
  if (b.lo.cmp(ZERO) < 0) quotient_corners(c, a, b.lo, dmin(b.hi, -eps));
  t.may_overflow = c.overflow;
  t.value = finish_interval(c, 0, MAX_SCALE, a.neg_zero);
  return t;
}

}  // namespace

Interval Interval::exactly(const Decimal& v) {
  return range(v, v, static_cast<uint8_t>(v.scale()), static_cast<uint8_t>(v.scale()),
               v.is_zero() && v.is_sign_negative());
}
Interval Interval::boolean() { return range(ZERO, ONE, 0, 0, false); }
Interval Interval::range(const Decimal& lo, const Decimal& hi, uint8_t min_scale, uint8_t max_scale, bool neg_zero) {
  Interval r;
  r.lo = lo;
  r.hi = hi;
  r.min_scale = min_scale;
  r.max_scale = max_scale;
  r.neg_zero = neg_zero;
  return r;
}

Interval join(const Interval& a, const Interval& b) {
  Interval r = Interval::range(dmin(a.lo, b.lo), dmax(a.hi, b.hi), std::min(a.min_scale, b.min_scale),
                               std::max(a.max_scale, b.max_scale), a.neg_zero || b.neg_zero);
  r.excludes_zero = a.excludes_zero && b.excludes_zero;
  if (a.var == b.var) r.var = a.var;
  return r;
}

std::optional<Interval> restrict(const Interval& x, int op, const Decimal& c) {
  Interval r = x;
  r.cond = 0;
  const uint32_t s = x.max_scale;
  // The nearest values of scale at most s strictly below / above c.
  auto below = [&] {
    Decimal v = c.round_dp(s);
    if (v.cmp(c) >= 0) v = widen_down(v, s);
    return v;
  };
  auto above = [&] {
    Decimal v = c.round_dp(s);
    if (v.cmp(c) <= 0) v = widen_up(v, s);
    return v;
  };
  switch (static_cast<OpKind>(op)) {
    case OpKind::Lt: r.hi = dmin(r.hi, below()); break;
    case OpKind::Le: r.hi = dmin(r.hi, c); break;
    case OpKind::Gt: r.lo = dmax(r.lo, above()); break;
    case OpKind::Ge: r.lo = dmax(r.lo, c); break;
    case OpKind::Eq:
      r.lo = dmax(r.lo, c);
      r.hi = dmin(r.hi, c);
      break;
    case OpKind::Ne:
      if (c.is_zero()) r.excludes_zero = true;
      if (c.cmp(r.lo) == 0) r.lo = above();
      if (c.cmp(r.hi) == 0) r.hi = below();
      break;
    default: break;
  }
  if (r.lo.cmp(r.hi) > 0 || (r.excludes_zero && r.only_zero())) return std::nullopt;
  if (!r.may_be_zero()) r.neg_zero = false;
  return r;
}

int negated(int op) {
  switch (static_cast<OpKind>(op)) {
    case OpKind::Lt: return static_cast<int>(OpKind::Ge);
    case OpKind::Ge: return static_cast<int>(OpKind::Lt);
    case OpKind::Le: return static_cast<int>(OpKind::Gt);
    case OpKind::Gt: return static_cast<int>(OpKind::Le);
    case OpKind::Eq: return static_cast<int>(OpKind::Ne);
    default: return static_cast<int>(OpKind::Eq);
  }
}

int swapped(int op) {
  switch (static_cast<OpKind>(op)) {
    case OpKind::Lt: return static_cast<int>(OpKind::Gt);
    case OpKind::Gt: return static_cast<int>(OpKind::Lt);
    case OpKind::Le: return static_cast<int>(OpKind::Ge);
    case OpKind::Ge: return static_cast<int>(OpKind::Le);
    default: return op;
  }
}

static Transfer add_or_sub(const Interval& a, const Interval& b, bool subtract) {
  Corners c;
  const Decimal& b_lo = subtract ? b.hi : b.lo;
  const Decimal& b_hi = subtract ? b.lo : b.hi;
  const auto op = subtract ? sub_impl : add_impl;
  const ArithResult lo = op(a.lo, b_lo), hi = op(a.hi, b_hi);
  c.take(lo, true, add_exact(a.lo, b_lo, lo));
  c.take(hi, false, add_exact(a.hi, b_hi, hi));
  const uint8_t top = std::max(a.max_scale, b.max_scale);
  uint8_t bottom = (a.may_be_zero() || b.may_be_zero()) ? std::min(a.min_scale, b.min_scale)
                                                        : std::max(a.min_scale, b.min_scale);
  Transfer t;
  t.may_overflow = c.overflow;
  t.value = finish_interval(c, bottom, top, a.neg_zero || b.neg_zero);
  if (!fits_at(magnitude(t.value), top)) t.value.min_scale = 0;
  if (subtract) t.value.neg_zero = t.value.may_be_zero();
  return t;
}

Transfer add(const Interval& a, const Interval& b) { return add_or_sub(a, b, false); }
Transfer sub(const Interval& a, const Interval& b) { return add_or_sub(a, b, true); }

Transfer mul(const Interval& a, const Interval& b) {
  Corners c;
  for (const Decimal* x : {&a.lo, &a.hi})
    for (const Decimal* y : {&b.lo, &b.hi}) {
      const ArithResult r = mul_impl(*x, *y);
      c.take(r, negative(*x) != negative(*y), mul_exact(*x, *y, r));
    }
  const uint8_t top = cap(uint32_t{a.max_scale} + b.max_scale);
  uint8_t bottom = cap(uint32_t{a.min_scale} + b.min_scale);
  if (a.may_be_zero() || b.may_be_zero()) bottom = 0;
  Transfer t;
  t.may_overflow = c.overflow;
  t.value = finish_interval(c, bottom, top, a.neg_zero || b.neg_zero);
  if (!fits_at(magnitude(t.value), top)) t.value.min_scale = 0;
  return t;
}

Transfer div(const Interval& a, const Interval& b) { return divide(a, b); }

Transfer floor_div(const Interval& a, const Interval& b) {
  Transfer t = divide(a, b);
  if (t.always_fails) return t;
  t.value.lo = t.value.lo.floor();
  t.value.hi = t.value.hi.floor();
  t.value.min_scale = 0;
  t.value.max_scale = 0;
  t.value.neg_zero = t.value.may_be_zero();
  return t;
}

Transfer rem(const Interval& a, const Interval& b) {
  Transfer t;
  t.may_divide_by_zero = b.may_be_zero();
  if (b.only_zero()) {
    t.always_fails = true;
    return t;
  }
  // |a % b| <= |a| and < |b|, with the sign of a; a itself when |a| < |b|.
  const Decimal m = magnitude(b);
  Interval r;
  const Decimal b_least = spans_zero(b) ? ZERO : dmin(b.lo.abs(), b.hi.abs());
  if (magnitude(a).cmp(b_least) < 0) {
    t.value = a;
    if (a.may_be_zero()) t.value.min_scale = 0;  // a zero dividend gives 0 at scale 0
    return t;
  }
  r.lo = negative(a.lo) ? dmax(a.lo, -m) : ZERO;
  r.hi = negative(a.hi) || a.hi.is_zero() ? ZERO : dmin(a.hi, m);
  r.min_scale = r.may_be_zero() ? 0 : a.min_scale;
  r.max_scale = std::max(a.max_scale, b.max_scale);
  r.neg_zero = neg_zero_of(r, a.neg_zero);
  t.value = r;
  return t;
}

static Transfer pow_point(const Interval& a, const Interval& b);

Transfer pow(const Interval& a, const Interval& b) {
  // Integer exponents from a small range: the union of each power.
  const Decimal limit = Decimal::new_(64, 0);
  if (!b.is_point() && b.max_scale == 0 && b.lo.cmp(ZERO) >= 0 && b.hi.cmp(limit) <= 0) {
    const uint64_t first = *b.lo.ceil().to_u64(), last = *b.hi.floor().to_u64();
    Transfer t;
    bool any = false;
    for (uint64_t n = first; n <= last; ++n) {
      const Transfer p = pow_point(a, Interval::exactly(Decimal::new_(static_cast<int64_t>(n), 0)));
      t.value = any ? join(t.value, p.value) : p.value;
      t.may_overflow = t.may_overflow || p.may_overflow;
      any = true;
    }
    if (any) return t;
  }
  return pow_point(a, b);
}

static Transfer pow_point(const Interval& a, const Interval& b) {
  Transfer t;
  if (b.is_point() && b.lo.cmp(b.lo.trunc()) == 0) {
    const auto n = b.lo.abs().to_u64();
    if (b.lo.is_zero()) {
      t.value = Interval::exactly(ONE);
      return t;
    }
    if (n && !negative(b.lo) && *n == 1) {
      t.value = a;
      if (a.may_be_zero() || (a.lo.cmp(ONE) <= 0 && a.hi.cmp(ONE) >= 0)) t.value.min_scale = 0;
      return t;
    }
    if (n && !negative(b.lo) && *n <= 64) {
      Corners c;
      for (const Decimal* x : {&a.lo, &a.hi}) {
        const MathResult r = powu_wide(*x, *n);
        const bool neg = negative(*x) && (*n % 2 == 1);
        if (r.is_ok()) {
          const uint64_t s = uint64_t{x->scale()} * *n;
          const bool exact = s <= MAX_SCALE && fits_at(r.value.abs(), static_cast<uint32_t>(s));
          c.take_value(r.value, exact);
        } else {
          c.take(ArithResult::overflow(), neg, false);
        }
      }
      if (*n % 2 == 0 && spans_zero(a)) c.take_value(ZERO, true);
      if (*n % 2 == 0 && negative(c.lo)) c.lo = ZERO;  // widened below zero: even powers never are
      const uint8_t top = cap(uint32_t{a.max_scale} * static_cast<uint32_t>(*n));
      const bool may_be_one = a.lo.cmp(ONE) <= 0 && a.hi.cmp(ONE) >= 0;  // 1 ^ n is 1 at scale 0
      uint8_t bottom = *n == 2 && !a.may_be_zero() && !may_be_one ? cap(uint32_t{a.min_scale} * 2) : 0;
      t.may_overflow = c.overflow;
      t.value = finish_interval(c, bottom, top, a.neg_zero);
      if (*n % 2 == 0 && negative(t.value.lo)) t.value.lo = ZERO;
      if (!fits_at(magnitude(t.value), top)) t.value.min_scale = 0;
      return t;
    }
  }
  t.value = Interval::any();
  t.may_overflow = true;
  return t;
}

Interval neg(const Interval& a) {
  Interval r = Interval::range(-a.hi, -a.lo, a.min_scale, a.max_scale, false);
  if (r.lo.is_zero()) r.lo = ZERO;
  if (r.hi.is_zero()) r.hi = ZERO;
  r.neg_zero = r.may_be_zero();
  return r;
}

Interval floor(const Interval& a) {
  Interval r = Interval::range(a.lo.floor(), a.hi.floor(), 0, 0, false);
  r.neg_zero = neg_zero_of(r, a.neg_zero || a.may_be_negative());
  return r;
}

Interval ceil(const Interval& a) {
  Interval r = Interval::range(a.lo.ceil(), a.hi.ceil(), 0, 0, false);
  r.neg_zero = neg_zero_of(r, a.neg_zero || a.may_be_negative());
  return r;
}

Interval abs(const Interval& a) {
  const Decimal lo = spans_zero(a) ? ZERO : dmin(a.lo.abs(), a.hi.abs());
  return Interval::range(lo, magnitude(a), a.min_scale, a.max_scale, false);
}

Interval round_places(const Interval& x, const Interval& places) {
  // Places count as to_u64 reads them: the fraction dropped.
  const uint32_t p_lo = static_cast<uint32_t>(std::min<uint64_t>(places.lo.abs().to_u64().value_or(0), 1000));
  const uint32_t p_hi = static_cast<uint32_t>(std::min<uint64_t>(places.hi.abs().to_u64().value_or(~0u), 1000));
  Interval r;
  if (p_lo == p_hi) {
    r.lo = x.lo.round_dp(p_lo);
    r.hi = x.hi.round_dp(p_lo);
  } else {
    // Rounding to more places stays inside the cell of the fewest.
    const uint32_t p = p_lo;
    r.lo = x.lo.round_dp(p);
    if (r.lo.cmp(x.lo) > 0) r.lo = widen_down(r.lo, std::min<uint32_t>(p, MAX_SCALE));
    r.hi = x.hi.round_dp(p);
    if (r.hi.cmp(x.hi) < 0) r.hi = widen_up(r.hi, std::min<uint32_t>(p, MAX_SCALE));
  }
  r.min_scale = static_cast<uint8_t>(std::min<uint32_t>(x.min_scale, p_lo));
  r.max_scale = static_cast<uint8_t>(std::min<uint32_t>(x.max_scale, p_hi));
  r.neg_zero = neg_zero_of(r, x.neg_zero || x.may_be_negative());
  return r;
}

Interval sqrt(const Interval& x) {
  const Decimal lo = dmax(x.lo, ZERO);
  const Decimal hi = dmax(x.hi, ZERO);
  const Decimal rel = Decimal::from_parts(1, 0, 20, false);
  const Decimal tiny = Decimal::from_parts(1, 0, 27, false);
  Interval r = Interval::range(ZERO, Decimal::max_value(), 0, MAX_SCALE, false);
  const MathResult s_lo = vexlor::sqrt(lo), s_hi = vexlor::sqrt(hi);
  if (s_lo.is_ok()) {
    const Decimal margin = saturate(add_impl(saturate(mul_impl(s_lo.value, rel), false), tiny), false);
    r.lo = dmax(ZERO, saturate(sub_impl(s_lo.value, margin), true));
  }
  if (s_hi.is_ok()) {
    const Decimal margin = saturate(add_impl(saturate(mul_impl(s_hi.value, rel), false), tiny), false);
    r.hi = saturate(add_impl(s_hi.value, margin), false);
  }
  return r;
}

Interval compare(int op, const Interval& a, const Interval& b) {
  const auto k = static_cast<OpKind>(op);
  const bool disjoint = a.hi.cmp(b.lo) < 0 || b.hi.cmp(a.lo) < 0;
  const bool same_point = a.is_point() && b.is_point() && a.lo.cmp(b.lo) == 0;
  int known = -1;  // -1 unknown, else 0/1
  switch (k) {
    case OpKind::Eq: known = same_point ? 1 : disjoint ? 0 : -1; break;
    case OpKind::Ne: known = same_point ? 0 : disjoint ? 1 : -1; break;
    case OpKind::Lt: known = a.hi.cmp(b.lo) < 0 ? 1 : a.lo.cmp(b.hi) >= 0 ? 0 : -1; break;
    case OpKind::Le: known = a.hi.cmp(b.lo) <= 0 ? 1 : a.lo.cmp(b.hi) > 0 ? 0 : -1; break;
    case OpKind::Gt: known = a.lo.cmp(b.hi) > 0 ? 1 : a.hi.cmp(b.lo) <= 0 ? 0 : -1; break;
    case OpKind::Ge: known = a.lo.cmp(b.hi) >= 0 ? 1 : a.hi.cmp(b.lo) < 0 ? 0 : -1; break;
    default: break;
  }
  if (known < 0) return Interval::boolean();
  return Interval::exactly(known ? ONE : ZERO);
}

Interval logic_not(const Interval& a) {
  if (a.only_zero()) return Interval::exactly(ONE);
  if (!a.may_be_zero()) return Interval::exactly(ZERO);
  return Interval::boolean();
}

Interval logic_and(const Interval& a, const Interval& b) {
  if (a.only_zero() || b.only_zero()) return Interval::exactly(ZERO);
  if (!a.may_be_zero() && !b.may_be_zero()) return Interval::exactly(ONE);
  return Interval::boolean();
}

Interval logic_or(const Interval& a, const Interval& b) {
  if (!a.may_be_zero() || !b.may_be_zero()) return Interval::exactly(ONE);
  if (a.only_zero() && b.only_zero()) return Interval::exactly(ZERO);
  return Interval::boolean();
}

uint64_t pow_cost(const Interval& b) {
  const auto n = magnitude(b).ceil().to_u64();
  if (!n || *n == ~uint64_t{0}) return ~uint64_t{0};
  return *n + 1;
}

}  // namespace vexlor::analysis
