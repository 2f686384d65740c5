// Conversion of a binary double, from its bits: exact as far as 96 bits and 28
// fractional digits allow, then cut to the precision a double carries.

#include <bit>

#include "decimal/coef96.hpp"
#include "decimal/decimal.hpp"

namespace vexlor {

std::optional<Decimal> Decimal::from_f64(double value) {
  const uint64_t bits = std::bit_cast<uint64_t>(value);
  const bool negative = (bits >> 63) != 0;
  const uint32_t biased_exponent = static_cast<uint32_t>(bits >> 52) & 0x7FFu;
  const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
  if (biased_exponent == 0x7FF) return std::nullopt;  // NaN, infinities
  if (biased_exponent == 0 && fraction == 0) return from_parts(0, 0, 0, negative);

  // value = m * 2^e2 = m * 10^e10 * 5^e5
  coef96::Coef m;
  int32_t e2;
  if (biased_exponent == 0) {
    m.lo = fraction;
    e2 = -1074;
  } else {
    m.lo = fraction | (uint64_t{1} << 52);
    e2 = static_cast<int32_t>(biased_exponent) - 1075;
  }
  int32_t e10 = e2;
  int32_t e5 = -e2;

  const auto halve = [&m] {
    m.lo = (m.lo >> 1) | (uint64_t{m.hi} << 63);
    m.hi >>= 1;
  };
  while (e5 > 0) {
    if ((m.lo & 1) == 0) {
      halve();
      ++e10;
    } else if (!coef96::mul(m, 5)) {
      halve();
      ++e10;
    }
    --e5;
  }
  while (e5 < 0) {
    if ((m.hi & 0x80000000u) == 0) {
      m.hi = (m.hi << 1) | static_cast<uint32_t>(m.lo >> 63);
      m.lo <<= 1;
      --e10;
      ++e5;
    } else if (2 * e10 > -e5) {
      return std::nullopt;
    } else {
      coef96::divmod(m, 5);
      ++e5;
    }
  }
  while (e10 > 0) {
    if (!coef96::mul(m, 10)) return std::nullopt;
    --e10;
  }
  while (e10 < -static_cast<int32_t>(MAX_SCALE)) {
    const uint32_t rem = coef96::divmod(m, 10);
    ++e10;
    if (m.is_zero()) {
      e10 = 0;
    } else if (rem >= 5) {
      coef96::add_one(m);
    }
  }
  // A double carries about 16 significant digits: no more than 2^52 in the coefficient.
  while (e10 < 0 && (m.hi != 0 || (m.lo >> 52) != 0)) {
    const uint32_t rem = coef96::divmod(m, 10);
    ++e10;
    if (rem >= 5) coef96::add_one(m);
  }
  while (e10 < 0) {
    coef96::Coef q = m;
    if (coef96::divmod(q, 10) != 0) break;
    m = q;
    ++e10;
  }
  return from_parts(m.lo, m.hi, static_cast<uint32_t>(-e10), negative);
}

}  // namespace vexlor
