#include "decimal/dec_wide.hpp"
#include "decimal/power_internal.hpp"

namespace vexlor::detail {

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
  // (1 / base)^n in the extended decimal: 57 digits and more through at most
  // 64 squarings and products, far beyond the 29 digits kept, then one rounding.
  const DecWide inverse = DecWide::reciprocal(base);
  DecWide acc = (n & 1) ? inverse : DecWide::one();
  DecWide power = inverse;
  for (uint64_t rest = n >> 1; rest != 0; rest >>= 1) {
    const auto sq = power.mul(power);
    if (!sq) return std::nullopt;  // beyond 2^192: so is every later power
    power = *sq;
    if (rest & 1) {
      const auto next = acc.mul(power);
      if (!next) return std::nullopt;
      acc = *next;
    }
  }
  return acc.to_decimal_rounded();
}

}  // namespace vexlor::detail
