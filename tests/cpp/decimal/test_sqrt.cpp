#include <gtest/gtest.h>

#include <string>

#include "decimal/decimal.hpp"

using vexlor::Decimal;
using vexlor::MathResult;

namespace {

Decimal dec(const char* text) { return Decimal::from_str(text).value(); }

TEST(DecimalSqrt, NewtonResultsKeepTheirScale) {
  const struct {
    const char* input;
    const char* expected;
  } cases[] = {
      {"4", "2"},
      {"9", "3.000000000000000000000000000"},
      {"16.0", "4.000000000000000000000000000"},
      {"2", "1.4142135623730950488016887242"},
      {"3", "1.7320508075688772935274463415"},
      {"10", "3.1622776601683793319988935444"},
      {"0.25", "0.500000000000000000000"},
      {"1.44", "1.2000000000000000000000000000"},
      {"2.25", "1.5000000000000000000000000000"},
      {"1.00", "1.0000000000000000000000000000"},
      {"100", "10.000000000000000000000000000"},
      {"0.0001", "0.0100000000000000000000000000"},
      {"0.0000000000000000000000000001", "0.0000000000000100000000000000"},
      {"79228162514264337593543950335", "281474976710656.00000000000000"},
      {"0", "0"},
      {"0.000", "0"},
  };
  for (const auto& c : cases) {
    const MathResult r = vexlor::sqrt(dec(c.input));
    ASSERT_TRUE(r.is_ok()) << c.input;
    EXPECT_EQ(r.value.to_string(), c.expected) << c.input;
  }
}

TEST(DecimalSqrt, SignBitGivesNothing) {
  for (const Decimal& x : {dec("-1"), dec("-0.0000000000000000000000000001"), -Decimal::zero(), -dec("0.00")}) {
    EXPECT_EQ(vexlor::sqrt(x).status, MathResult::Status::Nothing) << x.to_string();
  }
}

// Every coefficient size and scale converges well within the round limit, and
// the result is the correctly rounded root give or take a unit of its last digit.
TEST(DecimalSqrt, ConvergesAcrossMagnitudes) {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  for (int i = 0; i < 3000; ++i) {
    const uint32_t bits = static_cast<uint32_t>(next() % 97);
    uint64_t lo = next();
    uint32_t hi = static_cast<uint32_t>(next());
    if (bits < 64) {
      lo &= bits == 0 ? 0 : (~uint64_t{0} >> (64 - bits));
      hi = 0;
    } else if (bits < 96) {
      hi &= bits == 64 ? 0 : (~uint32_t{0} >> (96 - bits));
    }
    const Decimal x = Decimal::from_parts(lo, hi, static_cast<uint32_t>(next() % 29), false);
    const MathResult r = vexlor::sqrt(x);
    ASSERT_TRUE(r.is_ok()) << x.to_string();
    if (x.is_zero()) continue;
    // r^2 is close to x: |r^2 - x| <= x * 1e-26 + 1e-27.
    const auto square = vexlor::mul_impl(r.value, r.value);
    ASSERT_TRUE(square.is_ok());
    const auto diff = vexlor::sub_impl(square.value, x).value.abs();
    const auto tolerance =
        vexlor::add_impl(vexlor::mul_impl(x, dec("0.00000000000000000000000001")).value, dec("0.000000000000000000000000001"))
            .value;
    EXPECT_TRUE(diff <= tolerance) << x.to_string() << " -> " << r.value.to_string();
  }
}

}  // namespace
