// Ordering across scales, and the conversions that cut a value to an integer.

#include "decimal/coef96.hpp"
#include "decimal/decimal.hpp"
#include "decimal/wide.hpp"

namespace vexlor {
namespace {

using wide::u128;

constexpr u128 pow10(uint32_t n) {
  u128 p = 1;
  for (uint32_t i = 0; i < n; ++i) p = p * 10;
  return p;
}

// 10^0 .. 10^28 as (high, low) words.
struct Pow10Table {
  uint64_t hi[MAX_SCALE + 1];
  uint64_t lo[MAX_SCALE + 1];
};

constexpr Pow10Table make_pow10_table() {
  Pow10Table t{};
  for (uint32_t n = 0; n <= MAX_SCALE; ++n) {
    t.hi[n] = wide::hi64(pow10(n));
    t.lo[n] = wide::lo64(pow10(n));
  }
  return t;
}

constexpr Pow10Table POW10 = make_pow10_table();

inline std::strong_ordering order_of(u128 a, u128 b) {
  return a < b ? std::strong_ordering::less : b < a ? std::strong_ordering::greater : std::strong_ordering::equal;
}

// The coefficient of the smaller scale (a's when `pick` is all ones) times 10^gap
// against the other coefficient: a 96x128 product, whose bits above 96 mean greater.
[[gnu::noinline]] std::strong_ordering cmp_scaled_wide(const Decimal& a, const Decimal& b, uint64_t pick,
                                                      uint32_t gap) {
  const uint64_t swap_lo = (a.lo() ^ b.lo()) & pick, swap_hi = uint64_t{a.hi() ^ b.hi()} & pick;
  const uint64_t s_lo = b.lo() ^ swap_lo, u_lo = a.lo() ^ swap_lo;
  const uint64_t s_hi = b.hi() ^ swap_hi, u_hi = a.hi() ^ swap_hi;
  const uint64_t t_lo = POW10.lo[gap], t_hi = POW10.hi[gap];
  const u128 low = wide::mul64(s_lo, t_lo);
  const u128 cross = wide::mul64(s_lo, t_hi) + wide::mul64(s_hi, t_lo);  // below 2^97
  const u128 word1 = u128(wide::hi64(low)) + wide::lo64(cross);
  const uint64_t top = wide::hi64(cross) | (s_hi * t_hi) | wide::hi64(word1) | (wide::lo64(word1) >> 32);
  if (top != 0) return std::strong_ordering::greater;
  return order_of(wide::make_u128(wide::lo64(word1), wide::lo64(low)), wide::make_u128(u_hi, u_lo));
}

// |a| against |b| for any scales: the coefficient of the smaller scale times
// 10^gap against the other. Coefficients below 2^64 with a gap of at most 19 need
// one 64x64 product; otherwise a 96x128 product, whose bits above 96 mean greater.
std::strong_ordering cmp_magnitude(const Decimal& a, const Decimal& b) {
  const uint32_t sa = a.scale(), sb = b.scale();
  const uint64_t pick = uint64_t{0} - (sa < sb);  // all ones when a is the one scaled
  const uint64_t swap_lo = (a.lo() ^ b.lo()) & pick;
  const uint64_t s_lo = b.lo() ^ swap_lo, u_lo = a.lo() ^ swap_lo;
  const uint32_t diff = sa - sb, gap = (diff ^ static_cast<uint32_t>(pick)) - static_cast<uint32_t>(pick);
  const uint64_t t_lo = POW10.lo[gap];
  const std::strong_ordering order = (a.hi() | b.hi()) == 0 && gap <= 19
                                         ? order_of(wide::mul64(s_lo, t_lo), u128(u_lo))
                                         : cmp_scaled_wide(a, b, pick, gap);
  return pick != 0 ? order : 0 <=> order;
}

}  // namespace

// Opposite signs order by sign unless both values are zero; otherwise the
// magnitudes decide (a zero coefficient stays zero at any scale).
std::strong_ordering Decimal::cmp_general(const Decimal& other) const {
  const bool negative = is_sign_negative();
  if (negative != other.is_sign_negative()) {
    if ((lo_ | other.lo_ | hi_ | other.hi_) == 0) return std::strong_ordering::equal;
    return negative ? std::strong_ordering::less : std::strong_ordering::greater;
  }
  const std::strong_ordering order = cmp_magnitude(*this, other);
  return negative ? 0 <=> order : order;
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
