// Ordering across scales, and the conversions that cut a value to an integer.

#include "decimal/coef96.hpp"
#include "decimal/decimal.hpp"

namespace vexlor {
namespace {

// Compares two magnitudes of any scales.
std::strong_ordering cmp_magnitude(const Decimal& a, const Decimal& b) {
  coef96::Coef x{a.lo(), a.hi()}, y{b.lo(), b.hi()};
  const uint32_t sa = a.scale(), sb = b.scale();
  if (sa < sb) {
    if (!coef96::mul_pow10(x, sb - sa)) return std::strong_ordering::greater;
  } else if (sb < sa) {
    if (!coef96::mul_pow10(y, sa - sb)) return std::strong_ordering::less;
  }
  if (x.hi != y.hi) return x.hi <=> y.hi;
  return x.lo <=> y.lo;
}

}  // namespace

std::strong_ordering Decimal::cmp_general(const Decimal& other) const {
  const bool negative = is_sign_negative();
  if (other.is_zero()) {
    if (is_zero()) return std::strong_ordering::equal;
    return negative ? std::strong_ordering::less : std::strong_ordering::greater;
  }
  if (is_zero()) return other.is_sign_negative() ? std::strong_ordering::greater : std::strong_ordering::less;
  if (negative != other.is_sign_negative()) {
    return negative ? std::strong_ordering::less : std::strong_ordering::greater;
  }
  if (((flags_ ^ other.flags_) & 0x00FF0000u) == 0) {  // same scale
    std::strong_ordering order = hi_ != other.hi_ ? hi_ <=> other.hi_ : lo_ <=> other.lo_;
    return negative ? 0 <=> order : order;
  }
  return negative ? cmp_magnitude(other, *this) : cmp_magnitude(*this, other);
}

std::optional<uint64_t> Decimal::to_u64() const {
  if (is_sign_negative()) return std::nullopt;
  coef96::Coef c{lo_, hi_};
  coef96::div_pow10(c, scale());
  if (c.hi != 0) return std::nullopt;
  return c.lo;
}

void Decimal::normalize_assign() {
  coef96::Coef c{lo_, hi_};
  uint32_t scale = this->scale();
  while (scale > 0) {
    coef96::Coef q = c;
    if (coef96::divmod(q, 10) != 0) break;
    c = q;
    --scale;
  }
  *this = c.is_zero() ? Decimal() : from_parts(c.lo, c.hi, scale, is_sign_negative());
}

Decimal Decimal::trunc() const {
  coef96::Coef c{lo_, hi_};
  coef96::div_pow10(c, scale());
  return from_parts(c.lo, c.hi, 0, is_sign_negative());
}

}  // namespace vexlor
