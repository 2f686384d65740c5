#include "decimal/arith_internal.hpp"

namespace vexlor::arith {

ArithResult rescale(Buf24 n, int scale, bool negative) {
  int k = digits_to_drop(n);
  if (k == 0 && scale <= static_cast<int>(MAX_SCALE)) {
    return ArithResult::ok(make_decimal(n.low128(), static_cast<uint32_t>(scale), negative));
  }
  if (scale - static_cast<int>(MAX_SCALE) > k) k = scale - static_cast<int>(MAX_SCALE);
  if (k > scale) return ArithResult::overflow();

  // Drop k digits. `last` is the most significant dropped group, `half` half
  // its unit, and `sticky` tells whether any less significant dropped digit
  // was non-zero; together they decide the rounding of the kept quotient.
  bool sticky = false;
  int left = k;
  while (left > 19) {
    sticky |= divmod_assign(n, POW10_U64[19]) != 0;
    left -= 19;
  }
  const uint64_t last = divmod_assign(n, POW10_U64[left]);
  return round_dropped(n, u128(last), u128(POW10_U64[left] / 2), sticky, k, scale, negative);
}

ArithResult round_dropped(Buf24 q, u128 last, u128 half, bool sticky, int k, int scale, bool negative) {
  for (;;) {
    const bool up = last > half || (last == half && (sticky || (q.w[0] & 1) != 0));
    if (q.fits96()) {
      const u128 v = q.low128();
      if (!up) return ArithResult::ok(make_decimal(v, static_cast<uint32_t>(scale - k), negative));
      if (v != max96()) return ArithResult::ok(make_decimal(v + u128(1), static_cast<uint32_t>(scale - k), negative));
    }
    // Rounding reached 2^96 (or too few digits were dropped): drop one more.
    if (++k > scale) return ArithResult::overflow();
    sticky |= last != u128(0);
    last = u128(divmod_assign(q, 10));
    half = u128(5);
  }
}

}  // namespace vexlor::arith
