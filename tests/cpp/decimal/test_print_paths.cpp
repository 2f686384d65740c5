// The text form takes different paths by coefficient size and scale (one
// digit word below 10^8 with a scale below 8, two below 10^16 with a scale
// below 16, a field of four words for texts of 17 places or more; digits come
// from a table of four-digit groups); every path must print what a plain
// digit-by-digit printer prints.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "decimal/decimal.hpp"
#include "random.hpp"

using vexlor::Decimal;

namespace {

// Digits of the 96-bit coefficient by repeated division by ten in 32-bit
// pieces, the point placed by counting, the sign in front.
std::string plain_text(uint64_t lo, uint32_t hi, uint32_t scale, bool negative) {
  uint32_t words[3] = {hi, static_cast<uint32_t>(lo >> 32), static_cast<uint32_t>(lo)};
  std::string reversed;
  while (words[0] != 0 || words[1] != 0 || words[2] != 0) {
    uint64_t remainder = 0;
    for (uint32_t& w : words) {
      const uint64_t current = (remainder << 32) | w;
      w = static_cast<uint32_t>(current / 10);
      remainder = current % 10;
    }
    reversed += static_cast<char>('0' + remainder);
  }
  while (reversed.size() < scale + 1) reversed += '0';
  std::string text = negative ? "-" : "";
  for (size_t i = reversed.size(); i-- > 0;) {
    text += reversed[i];
    if (i == scale && scale != 0) text += '.';
  }
  return text;
}

using Random = vexlor::testing::Rng;

struct Coefficient {
  uint64_t lo;
  uint32_t hi;
};

// 10^k for k = 0..28 as (lo, hi).
std::vector<Coefficient> powers_of_ten() {
  std::vector<Coefficient> powers;
  uint64_t lo = 1;
  uint64_t hi = 0;
  for (int k = 0; k <= 28; ++k) {
    powers.push_back({lo, static_cast<uint32_t>(hi)});
    const uint64_t low_part = (lo & 0xFFFFFFFFu) * 10;
    const uint64_t high_part = (lo >> 32) * 10 + (low_part >> 32);
    hi = hi * 10 + (high_part >> 32);
    lo = (high_part << 32) | (low_part & 0xFFFFFFFFu);
  }
  return powers;
}

// Coefficients at the edges of the paths: zero, powers of ten and their
// neighbours (10^8 and 10^16 among them), 2^64 and its neighbours, the largest.
std::vector<Coefficient> edge_coefficients() {
  std::vector<Coefficient> edges = {{0, 0}, {~uint64_t{0}, 0}, {0, 1}, {1, 1}, {~uint64_t{0}, ~uint32_t{0}},
                                    {~uint64_t{0} - 1, ~uint32_t{0}}};
  for (const Coefficient& p : powers_of_ten()) {
    edges.push_back(p);
    edges.push_back({p.lo + 1, p.hi + (p.lo + 1 == 0)});
    edges.push_back({p.lo - 1, p.hi - (p.lo == 0)});
  }
  return edges;
}

Coefficient random_coefficient(Random& random, const std::vector<Coefficient>& edges) {
  switch (random.below(4)) {
    case 0:
      return edges[random.below(edges.size())];
    case 1: {  // a random number of decimal digits, mostly short
      const auto powers = powers_of_ten();
      const uint64_t digits = random.below(random.below(2) == 0 ? 17 : 30);
      if (digits == 0) return {0, 0};
      if (digits <= 19) {
        const uint64_t low = powers[digits - 1].lo, span = digits == 19 ? ~uint64_t{0} - low : 9 * low;
        return {low + random.below(span), 0};
      }
      return {random.next(), static_cast<uint32_t>(random.below(uint64_t{1} << (digits - 19 + 3)))};
    }
    default: {  // a random bit length
      const uint64_t bits = random.below(97);
      if (bits == 0) return {0, 0};
      if (bits <= 64) return {random.next() >> (64 - bits), 0};
      return {random.next(), static_cast<uint32_t>(random.next() >> (128 - bits))};
    }
  }
}

uint32_t random_scale(Random& random) {
  static constexpr uint32_t EDGE_SCALES[] = {0, 1, 2, 7, 8, 9, 15, 16, 17, 27, 28};
  if (random.below(2) == 0) return EDGE_SCALES[random.below(sizeof EDGE_SCALES / sizeof EDGE_SCALES[0])];
  return static_cast<uint32_t>(random.below(29));
}

}  // namespace

TEST(DecimalTextPaths, EdgeCoefficientsAtEveryScaleAndSign) {
  for (const Coefficient& c : edge_coefficients()) {
    for (uint32_t scale = 0; scale <= 28; ++scale) {
      for (bool negative : {false, true}) {
        const Decimal d = Decimal::from_parts(c.lo, c.hi, scale, negative);
        ASSERT_EQ(d.text().view(), plain_text(c.lo, c.hi, scale, negative))
            << "lo " << c.lo << " hi " << c.hi << " scale " << scale;
      }
    }
  }
}

TEST(DecimalTextPaths, RandomValuesPrintAsThePlainPrinter) {
  Random random;
  const std::vector<Coefficient> edges = edge_coefficients();
  for (int n = 0; n < 300000; ++n) {
    const Coefficient c = random_coefficient(random, edges);
    const uint32_t scale = random_scale(random);
    const bool negative = random.below(2) == 0;
    const Decimal d = Decimal::from_parts(c.lo, c.hi, scale, negative);
    const vexlor::DecimalText text = d.text();
    ASSERT_LE(text.size, 31u);
    ASSERT_EQ(text.view(), plain_text(c.lo, c.hi, scale, negative))
        << "lo " << c.lo << " hi " << c.hi << " scale " << scale;
  }
}

// Texts of every length from the short paths: each number of whole digits
// with each scale below 16, both signs.
TEST(DecimalTextPaths, EveryLayoutOfTheShortPaths) {
  const auto powers = powers_of_ten();
  for (uint32_t digits = 0; digits <= 16; ++digits) {
    // the smallest and the largest coefficient with that many digits, and one with inner zeros
    std::vector<uint64_t> values;
    if (digits == 0) {
      values = {0};
    } else {
      values = {powers[digits - 1].lo, powers[digits].lo - 1, powers[digits - 1].lo + 7};
    }
    for (uint64_t v : values) {
      for (uint32_t scale = 0; scale < 16; ++scale) {
        for (bool negative : {false, true}) {
          const Decimal d = Decimal::from_parts(v, 0, scale, negative);
          ASSERT_EQ(d.text().view(), plain_text(v, 0, scale, negative)) << v << " scale " << scale;
        }
      }
    }
  }
}

// Texts of 17 places or more: every number of digits from 17 to 29 with every
// scale, and short coefficients with the scales that print 17 places or more.
TEST(DecimalTextPaths, EveryLayoutOfTheWidePath) {
  const auto powers = powers_of_ten();
  std::vector<Coefficient> values = {{0, 0}, {1, 0}, {12345, 0}, {99999999, 0}, {~uint64_t{0}, ~uint32_t{0}}};
  for (uint32_t digits = 17; digits <= 29; ++digits) {
    const Coefficient low = powers[digits - 1];
    values.push_back(low);
    values.push_back({low.lo + 7, low.hi + (low.lo + 7 < low.lo)});
    if (digits < 29) values.push_back({powers[digits].lo - 1, powers[digits].hi - (powers[digits].lo == 0)});
  }
  for (const Coefficient& c : values) {
    for (uint32_t scale = 0; scale <= 28; ++scale) {
      for (bool negative : {false, true}) {
        const Decimal d = Decimal::from_parts(c.lo, c.hi, scale, negative);
        ASSERT_EQ(d.text().view(), plain_text(c.lo, c.hi, scale, negative))
            << "lo " << c.lo << " hi " << c.hi << " scale " << scale;
      }
    }
  }
}

// Every four-digit group in both halves of an eight-digit coefficient.
TEST(DecimalTextPaths, EveryFourDigitGroup) {
  for (uint64_t n = 0; n < 10000; ++n) {
    for (const uint64_t v : {n * 10000 + (9999 - n), (9999 - n) * 10000 + n}) {
      for (const uint32_t scale : {0u, 4u, 11u, 20u}) {
        const Decimal d = Decimal::from_parts(v * (scale >= 16 ? 100000000000ull : 1), 0, scale, false);  // below 2^64
        ASSERT_EQ(d.text().view(), plain_text(d.lo(), 0, scale, false)) << v << " scale " << scale;
      }
    }
  }
}

TEST(DecimalTextPaths, Examples) {
  const struct {
    Decimal value;
    const char* text;
  } cases[] = {
      {Decimal::from_parts(12345, 0, 2, false), "123.45"},
      {Decimal::from_parts(75, 0, 3, false), "0.075"},
      {Decimal::from_parts(1999999, 0, 2, true), "-19999.99"},
      {Decimal::from_parts(99999999, 0, 7, true), "-9.9999999"},
      {Decimal::from_parts(99999999, 0, 8, false), "0.99999999"},
      {Decimal::from_parts(100000000, 0, 8, false), "1.00000000"},
      {Decimal::from_parts(9999999999999999ull, 0, 15, true), "-9.999999999999999"},
      {Decimal::from_parts(9999999999999999ull, 0, 16, true), "-0.9999999999999999"},
      {Decimal::from_parts(10000000000000000ull, 0, 0, false), "10000000000000000"},
      {Decimal::from_parts(1, 0, 15, false), "0.000000000000001"},
      {Decimal::from_parts(0, 0, 7, true), "-0.0000000"},
      {Decimal::from_parts(~uint64_t{0}, ~uint32_t{0}, 0, true), "-79228162514264337593543950335"},
      {Decimal::from_parts(~uint64_t{0}, ~uint32_t{0}, 28, false), "7.9228162514264337593543950335"},
      {Decimal::from_parts(1, 0, 28, true), "-0.0000000000000000000000000001"},
      {Decimal::from_parts(0, 0, 28, false), "0.0000000000000000000000000000"},
      {Decimal::from_parts(10000000000000000ull, 0, 16, false), "1.0000000000000000"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value.text().view(), c.text);
}
