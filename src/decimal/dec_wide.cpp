#include "decimal/dec_wide.hpp"

namespace vexlor::detail {

namespace {

using U384 = Words<12>;

// Rounds an exact magnitude with `scale` (possibly above the wide limit) to a
// DecWide: drops the fewest digits (at least scale - MAX_WIDE_SCALE) that make
// the half-even rounded coefficient fit 192 bits. Nothing when the scale would
// turn negative.
uint32_t decimal_digits(U384 n) {
  uint32_t digits = 0;
  while (!n.fits_words(1)) {
    n.div_small(POW10_U32[9]);
    digits += 9;
  }
  for (uint32_t v = n.w[0]; v != 0; v /= 10) ++digits;
  return digits;
}

std::optional<DecWide> reduce(const U384& n, uint32_t scale, bool negative) {
  uint32_t drop = 0;
  if (scale > DecWide::MAX_WIDE_SCALE) {
    // Keep the wide scale, or as many significant digits when the value is small.
    const uint32_t digits = decimal_digits(n);
    const uint32_t by_digits = digits > DecWide::MAX_WIDE_SCALE ? digits - DecWide::MAX_WIDE_SCALE : 0;
    const uint32_t by_scale = scale - DecWide::MAX_WIDE_SCALE;
    drop = by_scale < by_digits ? by_scale : by_digits;
    if (scale - drop > DecWide::SCALE_CAP) drop = scale - DecWide::SCALE_CAP;
  }
  const size_t bits = n.bit_length();
  if (bits > 192) {
    const uint32_t estimate = static_cast<uint32_t>((bits - 192) * 77 / 256);
    if (estimate > drop) drop = estimate;
  }
  if (drop > scale) return std::nullopt;
  U384 q;
  for (;; ++drop) {
    if (drop > scale) return std::nullopt;
    q = n;
    q.div_pow10_round(drop);
    if (q.fits_words(6)) break;
  }
  DecWide r;
  r.scale = scale - drop;
  r.coeff = U192::from(q);
  r.negative = negative && !r.coeff.is_zero();
  return r;
}

// The coefficient brought to `scale` (>= its own), exactly, in 384 bits.
U384 aligned(const DecWide& v, uint32_t scale) {
  U384 n = U384::from(v.coeff);
  n.mul_pow10(scale - v.scale);  // at most 192 + 57 * 3.33 bits: cannot overflow
  return n;
}

std::optional<DecWide> add_signed(const DecWide& a, const DecWide& b, bool negate_b) {
  const bool b_negative = negate_b ? !b.negative : b.negative;
  const uint32_t scale = a.scale > b.scale ? a.scale : b.scale;
  U384 x = aligned(a, scale);
  U384 y = aligned(b, scale);
  if (a.negative == b_negative) {
    x.add(y);
    return reduce(x, scale, a.negative);
  }
  if (x.compare(y) >= 0) {
    x.sub(y);
    return reduce(x, scale, a.negative);
  }
  y.sub(x);
  return reduce(y, scale, b_negative);
}

}  // namespace

std::optional<DecWide> DecWide::add(const DecWide& o) const { return add_signed(*this, o, false); }
std::optional<DecWide> DecWide::sub(const DecWide& o) const { return add_signed(*this, o, true); }

std::optional<DecWide> DecWide::mul(const DecWide& o) const {
  return reduce(mul_full(coeff, o.coeff), scale + o.scale, negative != o.negative);
}

std::optional<DecWide> DecWide::div_u32(uint32_t d) const {
  // Bring the dividend to the full wide scale first (as far as 192 bits allow),
  // so the quotient keeps every digit the format can hold.
  uint32_t up = scale < MAX_WIDE_SCALE ? MAX_WIDE_SCALE - scale : 0;
  U384 n;
  for (;; --up) {
    n = U384::from(coeff);
    n.mul_pow10(up);
    if (n.fits_words(6) || up == 0) break;
  }
  const uint32_t rem = n.div_small(d);
  if (uint64_t{rem} * 2 > d || (uint64_t{rem} * 2 == d && n.is_odd())) n.add_small(1);
  return reduce(n, scale + up, negative);
}

int DecWide::cmp(const DecWide& o) const {
  const bool za = is_zero(), zb = o.is_zero();
  if (za && zb) return 0;
  const bool na = negative && !za, nb = o.negative && !zb;
  if (na != nb) return na ? -1 : 1;
  const uint32_t s = scale > o.scale ? scale : o.scale;
  const int mag = aligned(*this, s).compare(aligned(o, s));
  return na ? -mag : mag;
}

bool DecWide::vanishes_at_max_scale() const {
  if (scale <= MAX_SCALE) return coeff.is_zero();
  U384 twice = U384::from(coeff);
  twice.shl1();
  U384 unit;
  unit.w[0] = 1;
  unit.mul_pow10(scale - MAX_SCALE);
  return twice.compare(unit) <= 0;
}

}  // namespace vexlor::detail
