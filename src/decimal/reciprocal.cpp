#include "decimal/dec_wide.hpp"
#include "decimal/power_internal.hpp"

namespace vexlor::detail {

namespace {

using U384 = Words<12>;

// Beyond this decimal exponent a power is certainly far outside the Decimal
// range (its mantissa has 56 to 58 digits).
constexpr int64_t EXPONENT_DECIDED = int64_t{1} << 40;

// mantissa * 10^exponent with a 192-bit mantissa.
struct WideFloat {
  U192 mantissa;
  int64_t exponent = 0;
};

// Rounds an exact 384-bit mantissa to 192 bits, adjusting the exponent.
WideFloat fit(U384 n, int64_t exponent) {
  uint32_t drop = 0;
  const size_t bits = n.bit_length();
  if (bits > 192) drop = static_cast<uint32_t>((bits - 192) * 77 / 256);
  U384 q;
  for (;; ++drop) {
    q = n;
    q.div_pow10_round(drop);
    if (q.fits_words(6)) break;
  }
  return {U192::from(q), exponent + drop};
}

WideFloat multiply(const WideFloat& a, const WideFloat& b) {
  return fit(mul_full(a.mantissa, b.mantissa), a.exponent + b.exponent);
}

uint32_t decimal_digits(const U96& v) {
  U96 t = v;
  uint32_t digits = 0;
  while (!t.is_zero()) {
    t.div_small(10);
    ++digits;
  }
  return digits;
}

}  // namespace

bool power_is_exact(const Decimal& base, uint64_t n) {
  const Decimal b = base.normalize();
  if (b.scale() != 0 && n > MAX_SCALE / b.scale()) return false;
  U192 c = U192::from_coefficient(b);
  if (c.bit_length() <= 1) return true;  // coefficient 1 (or 0)
  if (n > 96) return false;
  U192 acc = c;
  for (uint64_t i = 1; i < n; ++i) {
    acc = U192::from(mul_full(acc, U96::from_coefficient(b)));
    if (!acc.fits_words(U96_WORDS)) return false;
  }
  return true;
}

std::optional<Decimal> reciprocal_power(const Decimal& base, uint64_t n) {
  // 1 / base = 10^(scale - k) * (10^k / coefficient), with k chosen so the
  // quotient has 57 digits and still fits 192 bits.
  const U96 c = U96::from_coefficient(base);
  const uint32_t k = 56 + decimal_digits(c);
  U384 numerator;
  numerator.w[0] = 1;
  numerator.mul_pow10(k);
  U384 quot, rem;
  divmod(numerator, U384::from(c), quot, rem);
  U384 twice = rem;
  twice.shl1();
  const int half = twice.compare(U384::from(c));
  if (half > 0 || (half == 0 && quot.is_odd())) quot.add_small(1);
  WideFloat inverse = fit(quot, static_cast<int64_t>(base.scale()) - k);

  WideFloat acc;
  acc.mantissa.w[0] = 1;
  if (n & 1) acc = inverse;
  WideFloat power = inverse;
  for (uint64_t rest = n >> 1; rest != 0; rest >>= 1) {
    power = multiply(power, power);
    if (power.exponent < -EXPONENT_DECIDED || power.exponent > EXPONENT_DECIDED) {
      // The highest bit always multiplies this power (or a further square)
      // into the result, and every other factor lies on the same side of 1.
      if (power.exponent > 0) return std::nullopt;
      return Decimal::from_parts(0, 0, MAX_SCALE, false);
    }
    if (rest & 1) acc = multiply(acc, power);
  }

  const bool negative = base.is_sign_negative() && (n & 1);
  if (acc.exponent >= 0) {
    // The mantissa holds at least 56 digits: far beyond 96 bits.
    return std::nullopt;
  }
  const uint64_t scale = static_cast<uint64_t>(-acc.exponent);
  if (scale > MAX_SCALE + 60) return Decimal::from_parts(0, 0, MAX_SCALE, false);  // below half a unit
  return round_to_decimal(acc.mantissa, static_cast<uint32_t>(scale), negative);
}

}  // namespace vexlor::detail
