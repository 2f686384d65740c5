// The float reading worked out from the bits equals the reading through the
// shortest text, on random bit patterns and on values near short decimals,
// powers of ten and two, integers and the ends of the fast range.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "columnar/float_decimal.hpp"
#include "columnar/read.hpp"

using namespace vexlor;
using namespace vexlor::columnar;

namespace {

template <class Float, class Bits>
struct Differential {
  std::mt19937_64 rng{19};
  long fast = 0;

  void check(Float value) {
    Decimal got;
    if (!shortest_decimal(value, got)) return;
    ++fast;
    char text[32];
    const size_t n = float_repr(value, text);
    Decimal want;
    ASSERT_TRUE(decimal_from_text({text, n}, want)) << std::string(text, n);
    ASSERT_TRUE(got.lo() == want.lo() && got.hi() == want.hi() && got.flags() == want.flags())
        << std::string(text, n) << " gave " << got.to_string();
  }

  // `value` and a few of its neighbours on both sides.
  void around(Float value) {
    Float up = value, down = value;
    for (int k = 0; k < 3; ++k) {
      check(up);
      check(-down);
      up = std::nextafter(up, std::numeric_limits<Float>::infinity());
      down = std::nextafter(down, -std::numeric_limits<Float>::infinity());
    }
  }

  void run(long rounds) {
    std::uniform_int_distribution<int> power(-8, 20), places(0, 22), digits(1, 18);
    for (const Float v : {Float(0), Float(-0.0), std::numeric_limits<Float>::denorm_min(),
                          std::numeric_limits<Float>::min(), std::numeric_limits<Float>::max(),
                          std::numeric_limits<Float>::infinity(), std::numeric_limits<Float>::quiet_NaN()}) {
      around(v);
    }
    for (int p = -8; p <= 20; ++p) around(static_cast<Float>(std::pow(10.0L, p)));
    for (int p = -30; p <= 60; ++p) around(std::ldexp(Float(1), p));
    for (long r = 0; r < rounds; ++r) {
      Bits bits = static_cast<Bits>(rng());
      Float random;
      std::memcpy(&random, &bits, sizeof random);
      check(random);
      const auto coefficient = static_cast<long double>(rng() % static_cast<uint64_t>(std::pow(10.0L, digits(rng))));
      around(static_cast<Float>(coefficient / std::pow(10.0L, places(rng))));
      check(static_cast<Float>(std::ldexp(static_cast<double>(rng() >> 11), power(rng))));
    }
  }
};

}  // namespace

TEST(FloatDecimal, MatchesTheShortestText) {
  const long rounds = 200000;  // eight values a round
  Differential<double, uint64_t> doubles;
  doubles.run(rounds);
  Differential<float, uint32_t> floats;
  floats.run(rounds);
  // Many of them take the way without text.
  EXPECT_GT(doubles.fast, rounds);
  EXPECT_GT(floats.fast, rounds);
}
