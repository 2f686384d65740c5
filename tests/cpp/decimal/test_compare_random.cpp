// Randomised ordering checks: cmp on pairs biased to the edges (zeros, both signs,
// coefficients near 2^64 and 2^96, scale gaps of 0, 19, 20 and 28, equal values at
// different scales) against an ordering of the printed texts.

#include <gtest/gtest.h>

#include <compare>
#include <cstdint>
#include <string>

#include "decimal/decimal.hpp"
#include "random.hpp"
#include "decimal/wide.hpp"

using vexlor::Decimal;
using vexlor::wide::u128;

namespace {

using vexlor::testing::Rng;

const u128 LIMIT = vexlor::wide::make_u128(uint64_t{1} << 32, 0);  // 2^96

u128 pow10(uint32_t n) {
  u128 p = 1;
  for (uint32_t i = 0; i < n; ++i) p = p * 10;
  return p;
}

u128 random_coefficient(Rng& rng) {
  switch (rng.below(9)) {
    case 0: return 0;
    case 1: return rng.below(1000);
    case 2: return pow10(rng.below(29)) - rng.below(2);
    case 3: return u128(~uint64_t{0}) - rng.below(3) + rng.below(3);  // around 2^64
    case 4: return LIMIT - 1 - rng.below(3);
    case 5: return rng.next();
    case 6: return rng.next() >> rng.below(64);
    case 7: return vexlor::wide::make_u128(rng.next() >> 32, rng.next());
    default: return vexlor::wide::make_u128(rng.next() >> (32 + rng.below(32)), rng.next());
  }
}

Decimal make(u128 c, uint32_t scale, bool negative) {
  return Decimal::from_parts(vexlor::wide::lo64(c), static_cast<uint32_t>(vexlor::wide::hi64(c)), scale, negative);
}

// Ordering from the printed text: the integer part padded on the left, the
// fraction on the right, compared digit by digit; all zeros are equal.
std::strong_ordering reference(const Decimal& a, const Decimal& b) {
  auto key = [](const Decimal& d) {
    std::string t = d.to_string();
    if (t[0] == '-') t.erase(0, 1);
    const size_t point = t.find('.');
    std::string whole = t.substr(0, point), frac = point == std::string::npos ? "" : t.substr(point + 1);
    return std::string(40 - whole.size(), '0') + whole + frac + std::string(40 - frac.size(), '0');
  };
  const std::string ka = key(a), kb = key(b);
  const bool za = ka.find_first_not_of('0') == std::string::npos, zb = kb.find_first_not_of('0') == std::string::npos;
  const int sa = za ? 0 : a.is_sign_negative() ? -1 : 1, sb = zb ? 0 : b.is_sign_negative() ? -1 : 1;
  if (sa != sb) return sa <=> sb;
  const int magnitude = ka.compare(kb);
  return sa < 0 ? 0 <=> magnitude : magnitude <=> 0;
}

const char* name(std::strong_ordering o) { return o < 0 ? "<" : o > 0 ? ">" : "=="; }

}  // namespace

TEST(DecimalCmpRandom, AgreesWithTextOrder) {
  Rng rng(0xc0ffee2026);
  static constexpr uint32_t gaps[] = {0, 1, 19, 20, 28};
  for (int i = 0; i < 200000; ++i) {
    const u128 ca = random_coefficient(rng);
    const uint32_t sa = rng.below(29);
    u128 cb = random_coefficient(rng);
    uint32_t sb = rng.below(2) ? rng.below(29) : gaps[rng.below(5)];
    if (sb > 28) sb = 28;
    if (rng.below(2) == 0) sb = rng.below(2) ? (sa + sb <= 28 ? sa + sb : 28) : (sa >= sb ? sa - sb : 0);
    if (rng.below(6) == 0 && sb >= sa && ca < LIMIT / pow10(sb - sa)) cb = ca * pow10(sb - sa);  // the same value
    if (rng.below(12) == 0 && sb >= sa && ca < LIMIT / pow10(sb - sa)) cb = ca * pow10(sb - sa) + 1 - rng.below(3);
    if (cb >= LIMIT) cb = LIMIT - 1;
    const Decimal a = make(ca, sa, rng.below(3) == 0), b = make(cb, sb, rng.below(3) == 0);
    const std::strong_ordering expected = reference(a, b);
    ASSERT_STREQ(name(a.cmp(b)), name(expected)) << a.to_string() << " vs " << b.to_string();
    ASSERT_STREQ(name(b.cmp(a)), name(0 <=> expected)) << b.to_string() << " vs " << a.to_string();
    ASSERT_STREQ(name(a.cmp_general(b)), name(expected)) << a.to_string() << " vs " << b.to_string();
  }
}
