#include "decimal/arith_internal.hpp"

namespace vexlor {
namespace {

using arith::u128;

// floor((2^96 - 1) / 10^x): the largest q with q * 10^x still below 2^96.
constexpr u128 EXTEND_LIMITS[10] = {
    wide::make_u128(0xFFFFFFFFu, 0xFFFFFFFFFFFFFFFFull), wide::make_u128(0x19999999u, 0x9999999999999999ull),
    wide::make_u128(0x28F5C28u, 0xF5C28F5C28F5C28Full),  wide::make_u128(0x418937u, 0x4BC6A7EF9DB22D0Eull),
    wide::make_u128(0x68DB8u, 0xBAC710CB295E9E1Bull),    wide::make_u128(0xA7C5u, 0xAC471B4784230FCFull),
    wide::make_u128(0x10C6u, 0xF7A0B5ED8D36B4C7ull),     wide::make_u128(0x1ADu, 0x7F29ABCAF485787Aull),
    wide::make_u128(0x2Au, 0xF31DC4611873BF3Full),       wide::make_u128(0x4u, 0x4B82FA09B5A52CB9ull),
};

// q divided by `divisor` when it divides exactly; false (q unchanged) otherwise.
inline bool divide_exactly(u128& q, uint32_t divisor) {
  uint64_t rem;
  const u128 quot = arith::divmod_u64(q, divisor, rem);
  if (rem != 0) return false;
  q = quot;
  return true;
}

// Strips trailing zeros of an inexact quotient in the fixed 8/4/2/1 pattern.
inline void strip_zeros(u128& q, int& s) {
  while ((wide::lo64(q) & 0xFFFFFFFFu) == 0 && s >= 8 && divide_exactly(q, 100000000)) s -= 8;
  if ((wide::lo64(q) & 0xF) == 0 && s >= 4 && divide_exactly(q, 10000)) s -= 4;
  if ((wide::lo64(q) & 0x3) == 0 && s >= 2 && divide_exactly(q, 100)) s -= 2;
  if ((wide::lo64(q) & 0x1) == 0 && s >= 1 && divide_exactly(q, 10)) s -= 1;
}

}  // namespace

ArithResult div_impl(const Decimal& a, const Decimal& b) {
  using namespace arith;
  if (b.is_zero()) return ArithResult::div_by_zero();
  if (a.is_zero()) return ArithResult::ok(Decimal());
  const bool negative = a.is_sign_negative() != b.is_sign_negative();
  int s = static_cast<int>(a.scale()) - static_cast<int>(b.scale());
  const u128 divisor = coefficient(b);
  const bool small_divisor = wide::hi64(divisor) == 0;
  DivMod qr = udivmod128(coefficient(a), divisor);
  u128 q = qr.quot, r = qr.rem;
  bool inexact = false;

  for (;;) {
    if (r == u128(0)) {
      if (s >= 0) break;
      // Exact so far but the scale is negative: append zeros.
      const int x = -s < 9 ? -s : 9;
      if (q > EXTEND_LIMITS[x]) return ArithResult::overflow();
      q = q * u128(POW10_U32[x]);
      s += x;
      continue;
    }
    inexact = true;
    int x = 0;
    if (s < static_cast<int>(MAX_SCALE)) {
      x = static_cast<int>(MAX_SCALE) - s < 9 ? static_cast<int>(MAX_SCALE) - s : 9;
      while (x > 0 && q > EXTEND_LIMITS[x]) --x;
    }
    if (x == 0) {
      if (s < 0) return ArithResult::overflow();
      const u128 twice_r = r << 1u;  // r < divisor < 2^96
      if (twice_r > divisor || (twice_r == divisor && (wide::lo64(q) & 1) != 0)) q += u128(1);
    } else {
      s += x;
      const u128 scale_up(POW10_U32[x]);
      q = q * scale_up;
      const u128 t = r * scale_up;  // below 2^126; t / divisor below 10^x
      if (small_divisor) {
        uint64_t rem;
        q += u128(div128by64(wide::hi64(t), wide::lo64(t), wide::lo64(divisor), rem));
        r = u128(rem);
      } else {
        qr = udivmod128(t, divisor);
        q += qr.quot;
        r = qr.rem;
      }
    }
    if (!fits96(q)) {
      // The quotient reached 2^96: drop one digit, half to even on the exact value.
      if (s <= 0) return ArithResult::overflow();
      uint64_t digit;
      q = divmod_u64(q, 10, digit);
      if (digit > 5 || (digit == 5 && (r != u128(0) || (wide::lo64(q) & 1) != 0))) q += u128(1);
      --s;
      break;
    }
    if (x == 0) break;
  }
  if (inexact) strip_zeros(q, s);
  return ArithResult::ok(make_decimal(q, static_cast<uint32_t>(s), negative));
}

}  // namespace vexlor
