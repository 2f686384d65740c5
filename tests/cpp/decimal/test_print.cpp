#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "decimal/decimal.hpp"

using vexlor::Decimal;

namespace {

constexpr uint64_t LO_MAX = ~uint64_t{0};
constexpr uint32_t HI_MAX = ~uint32_t{0};

std::string internal(const Decimal& d, bool append_sign, std::optional<uint32_t> precision) {
  char buffer[32];
  size_t extra = 0;
  const size_t n = d.to_str_internal(append_sign, precision, buffer, extra);
  EXPECT_LE(n, sizeof buffer);
  return std::string(buffer, n) + std::string(extra, '0');
}

}  // namespace

TEST(DecimalText, KeepsScaleAndSign) {
  const struct {
    Decimal value;
    const char* text;
  } cases[] = {
      {Decimal(), "0"},
      {-Decimal(), "-0"},
      {Decimal::from_parts(0, 0, 2, false), "0.00"},
      {Decimal::from_parts(0, 0, 2, true), "-0.00"},
      {Decimal::from_parts(5, 0, 3, false), "0.005"},
      {Decimal::from_parts(15, 0, 1, false), "1.5"},
      {Decimal::from_parts(150, 0, 2, false), "1.50"},
      {Decimal::from_parts(1234567, 0, 2, true), "-12345.67"},
      {Decimal::from_parts(10, 0, 0, false), "10"},
      {Decimal::from_parts(100000000, 0, 0, false), "100000000"},
      {Decimal::from_parts(99999999, 0, 0, false), "99999999"},
      {Decimal::from_parts(LO_MAX, 0, 0, false), "18446744073709551615"},
      {Decimal::from_parts(0, 1, 0, false), "18446744073709551616"},
      {Decimal::from_parts(0, 1, 20, false), "0.18446744073709551616"},
      {Decimal::from_parts(1000000000000000000ull, 0, 0, false), "1000000000000000000"},
      {Decimal::max_value(), "79228162514264337593543950335"},
      {Decimal::min_value(), "-79228162514264337593543950335"},
      {Decimal::from_parts(LO_MAX, HI_MAX, 28, true), "-7.9228162514264337593543950335"},
      {Decimal::from_parts(1, 0, 28, true), "-0.0000000000000000000000000001"},
      {Decimal::from_parts(0, 0, 28, false), "0.0000000000000000000000000000"},
      // 10^27 and 10^28: chunks of nine digits with inner zeros
      {Decimal::from_parts(0x9fd0803ce8000000ull, 0x33b2e3c, 0, false), "1000000000000000000000000000"},
      {Decimal::from_parts(0x3e25026110000000ull, 0x204fce5e, 28, false), "1.0000000000000000000000000000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.value.to_string(), c.text);
    EXPECT_EQ(c.value.text().view(), c.text);
    EXPECT_EQ(internal(c.value, true, std::nullopt), c.text);
    const std::string unsigned_text = c.value.is_sign_negative() ? std::string(c.text + 1) : c.text;
    EXPECT_EQ(internal(c.value, false, std::nullopt), unsigned_text);
  }
}

TEST(DecimalText, Precision) {
  const struct {
    Decimal value;
    uint32_t precision;
    const char* text;
  } cases[] = {
      {Decimal::from_parts(12345, 0, 3, false), 0, "12"},
      {Decimal::from_parts(12345, 0, 3, false), 1, "12.3"},
      {Decimal::from_parts(12349, 0, 3, false), 2, "12.34"},
      {Decimal::from_parts(12345, 0, 3, false), 5, "12.34500"},
      {Decimal::from_parts(12345, 0, 3, true), 2, "-12.34"},
      {Decimal::from_parts(5, 0, 1, false), 0, "0"},
      {Decimal::from_parts(5, 0, 1, true), 0, "-0"},
      {Decimal::from_parts(5, 0, 3, false), 2, "0.00"},
      {Decimal::from_parts(5, 0, 3, false), 3, "0.005"},
      {Decimal(), 0, "0"},
      {Decimal(), 2, "0.00"},
      {Decimal::from_parts(7, 0, 0, false), 3, "7.000"},
      {Decimal::from_parts(15, 0, 1, false), 30, "1.500000000000000000000000000000"},
      {Decimal::from_parts(1, 0, 28, false), 28, "0.0000000000000000000000000001"},
      {Decimal::from_parts(1, 0, 28, false), 29, "0.00000000000000000000000000010"},
      // wider than 32 bytes: the zeros that do not fit come back as extra zeros
      {Decimal::max_value(), 2, "79228162514264337593543950335.00"},
      {Decimal::min_value(), 5, "-79228162514264337593543950335.00000"},
      {Decimal::max_value(), 28, "79228162514264337593543950335.0000000000000000000000000000"},
      {Decimal::max_value(), 30, "79228162514264337593543950335.000000000000000000000000000000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(internal(c.value, true, c.precision), c.text) << c.value.to_string() << " at " << c.precision;
  }
}

// Every text read back prints the same.
TEST(DecimalText, RoundTripsThroughFromStr) {
  const char* texts[] = {"0",     "0.000", "1",         "-1",       "123.456", "-0.001", "100", "9999999999.99",
                         "0.1",   "10.10", "1000000000", "999999999", "1000000000000000000000",
                         "79228162514264337593543950335", "-7.9228162514264337593543950335",
                         "0.0000000000000000000000000001", "12345678901234567890.12345678"};
  for (const char* t : texts) {
    auto r = Decimal::from_str(t);
    ASSERT_TRUE(r) << t;
    EXPECT_EQ(r->to_string(), t);
  }
}

// The text form has word-at-a-time paths for short texts; they must agree with the
// general printer and read back to the same representation.
TEST(DecimalText, RandomValuesAgreeWithTheGeneralPrinterAndReadBack) {
  uint64_t state = 0x9e3779b97f4a7c15ull;
  const auto next = [&state] {
    uint64_t z = (state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  };
  for (int n = 0; n < 200000; ++n) {
    const unsigned bits = static_cast<unsigned>(next() % 97);
    uint64_t lo = next(), hi64 = next();
    if (bits < 64) {
      lo = bits == 0 ? 0 : lo >> (64 - bits);
      hi64 = 0;
    } else {
      hi64 = bits == 64 ? 0 : hi64 >> (128 - bits);
    }
    const uint32_t scale = static_cast<uint32_t>(next() % 29);
    const Decimal d = Decimal::from_parts(lo, static_cast<uint32_t>(hi64), scale, next() % 2 == 0);
    const std::string text = d.to_string();
    ASSERT_EQ(text, internal(d, true, std::nullopt));
    auto back = Decimal::from_str(text);
    ASSERT_TRUE(back) << text;
    if (!d.is_zero()) {
      ASSERT_TRUE(back->same_repr(d)) << text;
    }
  }
}
