#include "analysis/builtins.hpp"

#include <algorithm>

namespace vexlor::analysis {

std::string argument_count_text(size_t expected, size_t got) {
  return "Invalid argument count: expected " + std::to_string(expected) + ", got " + std::to_string(got);
}

CallOutcome call_builtin(std::string_view fn, std::span<const Interval> args) {
  CallOutcome out;
  const size_t n = args.size();
  auto fail = [&](FailureKind kind, const char* message, bool prefix = false) {
    out.failures.push_back(CallFailure{kind, message, prefix});
  };
  auto count_error = [&](size_t got) {
    out.failures.push_back(CallFailure{FailureKind::InvalidArgumentCount, argument_count_text(1, got), false});
    return out;
  };
  if (fn == "add" || fn == "sum" || fn == "mul" || fn == "average") {
    const bool product = fn == "mul";
    if (fn == "average" && n == 0) return count_error(0);
    Interval acc = Interval::exactly(product ? Decimal::one() : Decimal::zero());
    bool overflow = false;
    for (size_t i = 0; i < n; ++i) {
      // The sum starts from 0, whose first step gives the first argument itself;
      // the product from 1, whose first step may still change the scale (1 x 0.0 is 0).
      if (i == 0 && !product) {
        acc = args[0];
        continue;
      }
      const Transfer t = product ? mul(acc, args[i]) : add(acc, args[i]);
      overflow = overflow || t.may_overflow;
      acc = t.value;
    }
    if (overflow)
      fail(FailureKind::Overflow,
           product ? "Multiplication overflow: result out of Decimal range" : "Addition overflow: result out of Decimal range");
    if (fn == "average") {
      const Transfer t = div(acc, Interval::exactly(Decimal::new_(static_cast<int64_t>(std::min<size_t>(n, 1u << 30)), 0)));
      if (t.may_overflow) fail(FailureKind::Overflow, "Division overflow: result out of Decimal range");
      acc = t.value;
    }
    out.value = acc;
    return out;
  }
  if (fn == "max" || fn == "min") {
    if (n == 0) return count_error(0);
    Interval r = args[0];
    for (size_t i = 1; i < n; ++i) {
      const Interval& a = args[i];
      Interval u = join(r, a);
      if (fn == "max") {
        u.lo = r.lo.cmp(a.lo) >= 0 ? r.lo : a.lo;
        u.hi = r.hi.cmp(a.hi) >= 0 ? r.hi : a.hi;
      } else {
        u.lo = r.lo.cmp(a.lo) <= 0 ? r.lo : a.lo;
        u.hi = r.hi.cmp(a.hi) <= 0 ? r.hi : a.hi;
      }
      r = u;
    }
    out.value = r;
    return out;
  }
  if (fn == "round") {
    if (n != 1 && n != 2) return count_error(n);
    if (n == 1) {
      out.value = round_places(args[0], Interval::exactly(Decimal::zero()));
      return out;
    }
    const Interval& p = args[1];
    const Decimal limit = Decimal::new_(int64_t{1} << 32, 0);
    const bool bad_low = p.may_be_negative() || p.neg_zero;
    const bool bad_high = p.hi.cmp(limit) >= 0;
    if (bad_low || bad_high) fail(FailureKind::InvalidDecimalConversion, "Invalid Decimal conversion: Cannot convert ", true);
    Interval valid = p;
    if (p.lo.cmp(Decimal::zero()) < 0) valid.lo = Decimal::zero();
    if (bad_high) valid.hi = Decimal::new_((int64_t{1} << 32) - 1, 0);
    if (valid.lo.cmp(valid.hi) <= 0) out.value = round_places(args[0], valid);
    return out;
  }
  if (n != 1) return count_error(n);
  const Interval& x = args[0];
  if (fn == "sqrt") {
    if (x.may_be_negative() || x.neg_zero)
      fail(FailureKind::RuntimeError, "Runtime error: Cannot calculate square root of negative number: ", true);
    if (x.hi.cmp(Decimal::zero()) >= 0) out.value = sqrt(x);
  } else if (fn == "abs") {
    out.value = abs(x);
  } else if (fn == "floor") {
    out.value = floor(x);
  } else {
    out.value = ceil(x);
  }
  return out;
}

}  // namespace vexlor::analysis
