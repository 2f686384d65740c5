#include <gtest/gtest.h>

#include <compare>
#include <optional>
#include <string>

#include "decimal/decimal.hpp"

using vexlor::Decimal;

namespace {

Decimal dec(std::string_view text) {
  auto r = Decimal::from_str(text);
  EXPECT_TRUE(r) << text;
  return r ? *r : Decimal();
}

const char* name(std::strong_ordering o) {
  return o == std::strong_ordering::less ? "<" : o == std::strong_ordering::greater ? ">" : "==";
}

}  // namespace

TEST(DecimalCmp, AcrossScalesAndSigns) {
  const Decimal max28 = Decimal::from_parts(~uint64_t{0}, ~uint32_t{0}, 28, false);
  const struct {
    Decimal a, b;
    const char* order;
  } cases[] = {
      {dec("1.5"), dec("1.50"), "=="},
      {dec("0"), -dec("0"), "=="},
      {-dec("0"), dec("0.000"), "=="},
      {-dec("0.00"), -dec("0"), "=="},
      {dec("-2"), dec("-1.9"), "<"},
      {dec("-1.9"), dec("-2"), ">"},
      {dec("1"), dec("0"), ">"},
      {dec("-1"), dec("0"), "<"},
      {dec("0"), dec("-1"), ">"},
      {-dec("0"), dec("0.0001"), "<"},
      {dec("-0.1"), dec("0.1"), "<"},
      {dec("0.1"), dec("-0.1"), ">"},
      {dec("2"), dec("1.9999999999999999999999999999"), ">"},
      {dec("1.0000000000000000000000000001"), dec("1"), ">"},
      {dec("1000000000000000000"), dec("999999999999999999.99"), ">"},
      {dec("123.456"), dec("123.4560000000"), "=="},
      {dec("18446744073709551616"), dec("18446744073709551615.9999999"), ">"},
      {Decimal::max_value(), max28, ">"},
      {max28, Decimal::max_value(), "<"},
      {Decimal::min_value(), -max28, "<"},
      {-max28, Decimal::min_value(), ">"},
      {Decimal::max_value(), dec("0.0000000000000000000000000001"), ">"},
      {Decimal::min_value(), dec("-0.0000000000000000000000000001"), "<"},
      {dec("7.9228162514264337593543950335"), dec("7.9228162514264337593543950334"), ">"},
      {dec("7922816251426433759354395033.5"), dec("7922816251426433759354395034"), "<"},
      {dec("79228162514264337593543950335"), dec("79228162514264337593543950335.0"), "=="},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(name(c.a.cmp(c.b)), c.order) << c.a.to_string() << " vs " << c.b.to_string();
    EXPECT_STREQ(name(c.b.cmp(c.a)), name(0 <=> c.a.cmp(c.b))) << c.b.to_string() << " vs " << c.a.to_string();
  }
  EXPECT_TRUE(dec("1.5") == dec("1.50"));
  EXPECT_TRUE(dec("-2") < dec("-1.9"));
}

TEST(DecimalToU64, TruncatesTowardZero) {
  const struct {
    Decimal value;
    std::optional<uint64_t> expected;
  } cases[] = {
      {dec("3.99"), 3},
      {dec("0.5"), 0},
      {dec("-0.5"), std::nullopt},
      {-dec("0"), std::nullopt},
      {dec("0.000"), 0},
      {dec("18446744073709551615"), UINT64_MAX},
      {dec("18446744073709551615.999"), UINT64_MAX},
      {dec("18446744073709551616"), std::nullopt},
      {Decimal::max_value(), std::nullopt},
      {Decimal::from_parts(~uint64_t{0}, ~uint32_t{0}, 28, false), 7},
      {dec("1234567890123456789.0123456789"), 1234567890123456789ull},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value.to_u64(), c.expected) << c.value.to_string();
}

TEST(DecimalNormalize, DropsTrailingZeros) {
  const struct {
    Decimal value;
    const char* expected;
  } cases[] = {
      {dec("1.500"), "1.5"},
      {dec("100"), "100"},
      {dec("100.00"), "100"},
      {dec("-2.50"), "-2.5"},
      {dec("0.000"), "0"},
      {-dec("0.00"), "0"},
      {-dec("0"), "0"},
      {dec("1.0000000000000000000000000000"), "1"},
      {dec("0.0000000000000000000000000010"), "0.000000000000000000000000001"},
      {dec("79228162514264337593543950335"), "79228162514264337593543950335"},
      {dec("7.9228162514264337593543950330"), "7.922816251426433759354395033"},
  };
  for (const auto& c : cases) {
    Decimal d = c.value;
    d.normalize_assign();
    EXPECT_EQ(d.to_string(), c.expected);
    EXPECT_EQ(c.value.normalize().to_string(), c.expected);
  }
}

TEST(DecimalTrunc, IntegerPartKeepsSign) {
  const struct {
    Decimal value;
    const char* expected;
  } cases[] = {
      {dec("3.99"), "3"},   {dec("-3.99"), "-3"}, {dec("-0.5"), "-0"},
      {dec("7"), "7"},      {dec("2.30"), "2"},   {dec("0.000"), "0"},
      {Decimal::from_parts(~uint64_t{0}, ~uint32_t{0}, 28, true), "-7"},
      {dec("12345678901234567890.123456789"), "12345678901234567890"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value.trunc().to_string(), c.expected) << c.value.to_string();
}
