#include <gtest/gtest.h>

#include <string>

#include "decimal/decimal.hpp"

using vexlor::Decimal;

namespace {

Decimal dec(const char* text) { return Decimal::from_str(text).value(); }

struct UnaryCase {
  const char* input;
  const char* expected;
};

TEST(DecimalRounding, Floor) {
  const UnaryCase cases[] = {
      {"1.5", "1"},   {"-1.5", "-2"}, {"-0.001", "-1"}, {"2.00", "2"},  {"0.000", "0"},
      {"-1.0", "-1"}, {"7", "7"},     {"-7", "-7"},     {"0.999", "0"}, {"-79228162514264337593543950335", "-79228162514264337593543950335"},
      {"-7.9228162514264337593543950335", "-8"},
  };
  for (const auto& c : cases) EXPECT_EQ(dec(c.input).floor().to_string(), c.expected) << c.input;
  EXPECT_EQ((-Decimal::zero()).floor().to_string(), "-0");
}

TEST(DecimalRounding, Ceil) {
  const UnaryCase cases[] = {
      {"1.5", "2"},     {"-1.5", "-1"},  {"1.50", "2"}, {"-0.5", "-0"}, {"-0.4", "-0"},
      {"-0.001", "-0"}, {"0.000", "0"},  {"3", "3"},    {"0.001", "1"}, {"7.9228162514264337593543950335", "8"},
  };
  for (const auto& c : cases) EXPECT_EQ(dec(c.input).ceil().to_string(), c.expected) << c.input;
}

TEST(DecimalRounding, Round) {
  const UnaryCase cases[] = {
      {"2.5", "2"}, {"-2.5", "-2"}, {"1.5", "2"}, {"0.5", "0"}, {"-0.5", "0"}, {"1.45", "1"}, {"-2.50", "-2"},
      {"3.5", "4"}, {"2.51", "3"},
  };
  for (const auto& c : cases) EXPECT_EQ(dec(c.input).round().to_string(), c.expected) << c.input;
  const Decimal negative_zero = -Decimal::zero();
  EXPECT_EQ(negative_zero.round().to_string(), "-0");
  EXPECT_TRUE(negative_zero.round().same_repr(negative_zero));
}

TEST(DecimalRounding, RoundDp) {
  const struct {
    const char* input;
    uint32_t dp;
    const char* expected;
  } cases[] = {
      {"1.2345", 2, "1.23"},
      {"1.235", 2, "1.24"},
      {"1.245", 2, "1.24"},
      {"1.2450", 2, "1.24"},
      {"-1.245", 2, "-1.24"},
      {"1.20", 1, "1.2"},
      {"123.456", 0, "123"},
      {"-0.005", 2, "0.00"},
      {"7.9228162514264337593543950335", 27, "7.922816251426433759354395034"},
      {"1.2", 5, "1.2"},
      {"1.5", 30, "1.5"},
      {"1.2451", 2, "1.25"},
      {"0.0000000000000000000000000005", 27, "0.000000000000000000000000000"},
      {"0.0000000000000000000000000015", 27, "0.000000000000000000000000002"},
      {"79228162514264337593543950.335", 0, "79228162514264337593543950"},
      {"79228162514264337593543950.5", 0, "79228162514264337593543950"},
      {"79228162514264337593543951.5", 0, "79228162514264337593543952"},
  };
  for (const auto& c : cases) EXPECT_EQ(dec(c.input).round_dp(c.dp).to_string(), c.expected) << c.input << " " << c.dp;
}

}  // namespace
