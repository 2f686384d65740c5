#include <gtest/gtest.h>

#include <random>

#include "decimal/arith_internal.hpp"
#include "decimal/wide.hpp"

namespace {

using vexlor::arith::u128;
namespace wide = vexlor::wide;
namespace arith = vexlor::arith;

// Bit-at-a-time long division: slow but obviously right.
arith::DivMod reference_divmod(u128 n, u128 d) {
  u128 q(0), r(0);
  for (int i = 127; i >= 0; --i) {
    r = (r << 1u) | ((n >> static_cast<unsigned>(i)) & u128(1));
    if (r >= d) {
      r = r - d;
      q = q | (u128(1) << static_cast<unsigned>(i));
    }
  }
  return {q, r};
}

// Random 128-bit values of every bit length, with runs of ones and zeros.
u128 random_u128(std::mt19937_64& rng) {
  const unsigned bits = static_cast<unsigned>(rng() % 129);
  u128 v = wide::make_u128(rng(), rng());
  switch (rng() % 4) {
    case 0: v = ~u128(0); break;
    case 1: v = v | wide::make_u128(0xFFFFFFFF00000000ull, 0); break;
    default: break;
  }
  if (bits == 0) return u128(0);
  return bits == 128 ? v : v & ((u128(1) << bits) - u128(1));
}

TEST(Wide, DivisionMatchesBitwiseReference) {
  std::mt19937_64 rng(99);
  for (int i = 0; i < 200000; ++i) {
    const u128 n = random_u128(rng);
    u128 d = random_u128(rng);
    if (d == u128(0)) d = u128(1 + rng() % 7);
    const arith::DivMod got = arith::udivmod128(n, d);
    const arith::DivMod want = reference_divmod(n, d);
    ASSERT_TRUE(got.quot == want.quot && got.rem == want.rem) << i;
    ASSERT_TRUE(n / d == want.quot && n % d == want.rem) << i;
  }
}

TEST(Wide, Div128By64BothImplementations) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 200000; ++i) {
    uint64_t d = rng() >> (rng() % 64);
    if (d == 0) d = 1;
    const uint64_t hi = (rng() >> (rng() % 64)) % d, lo = rng();
    const arith::DivMod want = reference_divmod(wide::make_u128(hi, lo), u128(d));
    uint64_t r1, r2;
    const uint64_t q1 = arith::div128by64(hi, lo, d, r1);
    const uint64_t q2 = arith::div128by64_portable(hi, lo, d, r2);
    ASSERT_TRUE(u128(q1) == want.quot && u128(r1) == want.rem) << hi << " " << lo << " " << d;
    ASSERT_TRUE(u128(q2) == want.quot && u128(r2) == want.rem) << hi << " " << lo << " " << d;
  }
}

TEST(Wide, ArithmeticIdentities) {
  std::mt19937_64 rng(5);
  for (int i = 0; i < 100000; ++i) {
    const uint64_t a = rng() >> (rng() % 64), b = rng() >> (rng() % 64);
    const u128 p = wide::mul64(a, b);
    if (a != 0) {
      ASSERT_TRUE(p / u128(a) == u128(b) && p % u128(a) == u128(0));
    }
    const u128 x = random_u128(rng), y = random_u128(rng);
    ASSERT_TRUE((x + y) - y == x);
    ASSERT_TRUE((x ^ y) == ((x | y) & ~(x & y)));
    ASSERT_EQ(x < y, !(x >= y));
    const unsigned sh = static_cast<unsigned>(rng() % 128);
    ASSERT_TRUE(((x >> sh) << sh) == (x & ~((u128(1) << sh) - u128(1))));
    ASSERT_LE(wide::bit_length(x >> sh), sh >= 128 ? 0u : 128u - sh);
  }
}

}  // namespace
