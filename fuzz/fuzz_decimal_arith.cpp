// Fuzzes the decimal arithmetic: random bit patterns become valid decimals
// (any 96-bit coefficient, any sign, scale 0..28), and every operation runs on
// them. Checks: results are valid values, nothing crashes or hits undefined
// behaviour, and the operations agree with each other (cmp with the sign of a
// difference, a + b - b stays next to a, remainders below the divisor, floor
// and ceil around the value, ...).

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "check.hpp"
#include "decimal/decimal.hpp"

using vexlor::ArithResult;
using vexlor::Decimal;
using vexlor::MathResult;
using fuzzcheck::fail;
using fuzzcheck::show;

namespace {

class Bytes {
 public:
  Bytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint64_t u64() {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= uint64_t{u8()} << (8 * i);
    return v;
  }
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t{u8()} << (8 * i);
    return v;
  }
  Decimal decimal() {
    const uint8_t shape = u8();
    uint64_t lo = u64();
    uint32_t hi = u32();
    // Bias towards short coefficients, so that ordinary magnitudes occur too.
    switch (shape >> 5) {
      case 0: hi = 0; lo &= 0xFFFFFFFFu; break;
      case 1: hi = 0; break;
      case 2: hi &= 0xFFu; break;
      default: break;
    }
    const uint32_t scale = u8() % (vexlor::MAX_SCALE + 1);
    return Decimal::from_parts(lo, hi, scale, (shape & 1) != 0);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

int sign_of(const Decimal& d) { return d.is_zero() ? 0 : d.is_sign_negative() ? -1 : 1; }
int order(std::strong_ordering o) { return o < 0 ? -1 : o > 0 ? 1 : 0; }

std::string args(const char* op, const Decimal& a, const Decimal& b) {
  return std::string(op) + "(" + show(a) + ", " + show(b) + ")";
}

void valid_arith(const ArithResult& r, const std::string& what) {
  if (r.is_ok()) fuzzcheck::require_valid(r.value, "arithmetic result", what);
}

void valid_math(const MathResult& r, const std::string& what) {
  if (r.is_ok()) fuzzcheck::require_valid(r.value, "math result", what);
  if (r.status == MathResult::Status::Fault && r.fault == nullptr) fail("fault without a text", what);
}

// 10^-s as a decimal (coefficient 1, scale s).
Decimal ulp(uint32_t s) { return Decimal::from_parts(1, 0, s, false); }

long double approx(const Decimal& d) { return std::strtold(d.to_string().c_str(), nullptr); }

void check_pair(const Decimal& a, const Decimal& b) {
  const ArithResult sum = vexlor::add_impl(a, b);
  const ArithResult diff = vexlor::sub_impl(a, b);
  const ArithResult prod = vexlor::mul_impl(a, b);
  const ArithResult quot = vexlor::div_impl(a, b);
  const ArithResult rem = vexlor::rem_impl(a, b);
  valid_arith(sum, args("add", a, b));
  valid_arith(diff, args("sub", a, b));
  valid_arith(prod, args("mul", a, b));
  valid_arith(quot, args("div", a, b));
  valid_arith(rem, args("rem", a, b));
  if (sum.status == ArithResult::Status::DivByZero || diff.status == ArithResult::Status::DivByZero ||
      prod.status == ArithResult::Status::DivByZero)
    fail("DivByZero outside division", args("add/sub/mul", a, b));

  // Ordering: antisymmetric, and the sign of an exact difference.
  const int c = order(a.cmp(b));
  if (c != -order(b.cmp(a))) fail("cmp is not antisymmetric", args("cmp", a, b));
  if (order(a.cmp(a)) != 0) fail("cmp(a, a) != 0", show(a));
  if (diff.is_ok() && sign_of(diff.value) != c) fail("cmp disagrees with the sign of a - b", args("sub", a, b));
  if (!diff.is_ok() && c == 0) fail("a - b failed for equal values", args("sub", a, b));

  // Commutativity (two zeros return one of the operands unchanged, so skip those).
  if (!(a.is_zero() && b.is_zero())) {
    const ArithResult sum2 = vexlor::add_impl(b, a);
    if (sum.status != sum2.status || (sum.is_ok() && !sum.value.same_repr(sum2.value)))
      fail("a + b != b + a", args("add", a, b));
    const ArithResult neg_sum = vexlor::add_impl(a, -b);
    if (diff.status != neg_sum.status || (diff.is_ok() && !diff.value.same_repr(neg_sum.value)))
      fail("a - b != a + (-b)", args("sub", a, b));
  }
  const ArithResult prod2 = vexlor::mul_impl(b, a);
  if (prod.status != prod2.status || (prod.is_ok() && !prod.value.same_repr(prod2.value)))
    fail("a * b != b * a", args("mul", a, b));

  // a + b - b stays within the rounding of the two steps.
  if (sum.is_ok()) {
    const ArithResult back = vexlor::sub_impl(sum.value, b);
    if (back.is_ok()) {
      const ArithResult err = vexlor::sub_impl(back.value, a);
      const uint32_t s = std::min(sum.value.scale(), back.value.scale());
      if (err.is_ok() && err.value.abs().cmp(ulp(s)) > 0) fail("a + b - b is not next to a", args("add", a, b));
    }
  }

  // Division and remainder.
  if (b.is_zero()) {
    if (quot.status != ArithResult::Status::DivByZero || rem.status != ArithResult::Status::DivByZero)
      fail("division by zero not reported", args("div/rem", a, b));
    return;
  }
  if (rem.status != ArithResult::Status::Ok) fail("remainder failed", args("rem", a, b));
  if (rem.value.abs().cmp(b.abs()) >= 0) fail("|a % b| >= |b|", args("rem", a, b));
  if (rem.value.abs().cmp(a.abs()) > 0) fail("|a % b| > |a|", args("rem", a, b));
  if (!rem.value.is_zero() && rem.value.is_sign_negative() != a.is_sign_negative())
    fail("a % b does not have the sign of a", args("rem", a, b));
  if (quot.status == ArithResult::Status::DivByZero) fail("DivByZero for a non-zero divisor", args("div", a, b));
  if (quot.is_ok()) {
    const Decimal& q = quot.value;
    if (!q.is_zero() && q.is_sign_negative() != (a.is_sign_negative() != b.is_sign_negative()))
      fail("sign of a / b", args("div", a, b));
    if (a.abs().cmp(b.abs()) >= 0 && q.abs().cmp(Decimal::one()) < 0) fail("|a| >= |b| but |a / b| < 1", args("div", a, b));
    if (!a.is_zero() && q.is_zero() && a.abs().cmp(b.abs()) >= 0) fail("quotient vanished", args("div", a, b));
    // q * b is close to a (relative, in long double).
    const long double x = approx(a), y = approx(b), z = approx(q);
    if (std::fabs(z * y - x) > 1e-15L * std::fabs(x) + std::fabs(y) * 1e-27L)
      fail("a / b * b is far from a", args("div", a, b));
  } else if (std::fabs(approx(a) / approx(b)) < 7.9e28L) {
    fail("division overflowed below the maximum", args("div", a, b));
  }
  if (prod.is_ok()) {
    const long double x = approx(a) * approx(b), z = approx(prod.value);
    if (std::fabs(z - x) > 1e-15L * std::fabs(x) + 1e-28L) fail("a * b is far off", args("mul", a, b));
  } else if (std::fabs(approx(a) * approx(b)) < 7.9e28L) {
    fail("multiplication overflowed below the maximum", args("mul", a, b));
  }
}

void check_unary(const Decimal& x, uint32_t dp, int64_t n, double f) {
  const std::string sx = show(x);
  // Text form reads back (a negative zero reads back as a positive zero).
  const auto back = Decimal::from_str(x.to_string());
  if (!back) fail("text form does not read back", sx);
  if (x.is_zero() ? !(back->is_zero() && back->scale() == x.scale() && !back->is_sign_negative())
                  : !back->same_repr(x))
    fail("text form reads back to another representation", sx);

  // floor <= x <= ceil, both integers one apart at most.
  const Decimal fl = x.floor(), ce = x.ceil(), tr = x.trunc(), fr = x.fract();
  for (const Decimal* d : {&fl, &ce, &tr, &fr}) fuzzcheck::require_valid(*d, "floor/ceil/trunc/fract", sx);
  if (fl.cmp(x) > 0 || ce.cmp(x) < 0) fail("floor/ceil do not bracket x", sx);
  if (x.scale() > 0 && (fl.scale() != 0 || ce.scale() != 0 || tr.scale() != 0)) fail("floor/ceil/trunc scale", sx);
  const ArithResult width = vexlor::sub_impl(ce, fl);
  if (!width.is_ok() || width.value.abs().cmp(Decimal::one()) > 0) fail("ceil - floor > 1", sx);
  const ArithResult whole = vexlor::add_impl(tr, fr);
  if (!whole.is_ok() || whole.value.cmp(x) != 0) fail("trunc + fract != x", sx);

  // round_dp: scale and distance.
  const Decimal r = x.round_dp(dp);
  fuzzcheck::require_valid(r, "round_dp", sx);
  if (r.scale() != std::min(dp, x.scale())) fail("round_dp scale", sx + " dp " + std::to_string(dp));
  if (dp < x.scale()) {
    const ArithResult dist = vexlor::sub_impl(r, x);
    const ArithResult twice = dist.is_ok() ? vexlor::add_impl(dist.value, dist.value) : dist;
    if (!twice.is_ok() || twice.value.abs().cmp(ulp(dp)) > 0) fail("round_dp moved more than half a unit", sx);
  }

  // normalize keeps the number.
  const Decimal nz = x.normalize();
  fuzzcheck::require_valid(nz, "normalize", sx);
  if (nz.cmp(x) != 0 || (nz.scale() > 0 && nz.lo() % 10 == 0 && nz.hi() == 0 && !nz.is_zero()))
    fail("normalize", sx);

  // to_u64 agrees with trunc.
  const auto u = x.to_u64();
  if (u && (x.is_sign_negative() || std::to_string(*u) != tr.abs().to_string())) fail("to_u64", sx);

  // sqrt: the square of the root is x (in long double).
  const MathResult root = vexlor::sqrt(x.abs());
  valid_math(root, "sqrt " + sx);
  if (root.status == MathResult::Status::Nothing) fail("sqrt of a non-negative value gave nothing", sx);
  if (root.is_ok()) {
    const long double want = std::sqrt(approx(x.abs())), got = approx(root.value);
    if (std::fabs(got - want) > 1e-15L * want + 1e-27L) fail("sqrt is far off", sx);
  }
  if (x.is_sign_negative() && vexlor::sqrt(x).status != MathResult::Status::Nothing)
    fail("sqrt of a negative value", sx);

  // Powers: no crash, valid results.
  valid_math(vexlor::checked_powi(x, n), "powi " + sx + " " + std::to_string(n));
  valid_math(vexlor::powu_wide(x, static_cast<uint64_t>(n < 0 ? -n : n)), "powu " + sx);

  // from_f64: a valid value near the double.
  const auto fd = Decimal::from_f64(f);
  if (fd) {
    fuzzcheck::require_valid(*fd, "from_f64", std::to_string(f));
    if (!std::isfinite(f)) fail("from_f64 of a non-finite double", std::to_string(f));
    const long double got = approx(*fd);
    if (std::fabs(got - f) > 1e-14L * std::fabs(f) + 1e-28L) fail("from_f64 is far off", std::to_string(f));
  } else if (std::isfinite(f) && std::fabs(f) < 7.9e28) {
    fail("from_f64 refused a representable double", std::to_string(f));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes in(data, size);
  const Decimal a = in.decimal();
  const Decimal b = in.decimal();
  const uint32_t dp = in.u8() % 32;
  const int64_t n = static_cast<int8_t>(in.u8()) % 64;
  const uint64_t bits = in.u64();
  double f;
  std::memcpy(&f, &bits, sizeof f);
  check_pair(a, b);
  check_pair(b, a);
  check_unary(a, dp, n, f);
  // A fractional power must end (a value, nothing, or an internal fault).
  valid_math(vexlor::checked_powd(a, b), args("powd", a, b));
  return 0;
}
