#include <gtest/gtest.h>

#include <string>

#include "decimal/decimal.hpp"

using vexlor::Decimal;

namespace {

std::string read(std::string_view text) {
  auto r = Decimal::from_scientific(text);
  return r ? r->to_string() : "error: " + r.error().to_string();
}

}  // namespace

TEST(DecimalFromScientific, Examples) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"1e5", "100000"},
      {"1.5E-3", "0.0015"},
      {"-1.5e-3", "-0.0015"},
      {"1e-28", "0.0000000000000000000000000001"},
      {"1e-29", "error: Scale exceeds the maximum precision allowed: 29 > 28"},
      {"1.5e-28", "error: Scale exceeds the maximum precision allowed: 29 > 28"},
      {"1e28", "10000000000000000000000000000"},
      {"9e28", "error: Number exceeds maximum value that can be represented."},
      {"1e29", "error: Scale exceeds the maximum precision allowed: 29 > 28"},
      {"0.1e29", "error: Scale exceeds the maximum precision allowed: 29 > 28"},
      {"1e5e6", "error: Failed to parse"},
      {"1e", "error: Failed to parse"},
      {"1e 5", "error: Failed to parse"},
      {"1e--5", "error: Failed to parse"},
      {"1e+-5", "error: Failed to parse"},
      {"1e++5", "error: Failed to parse"},
      {"1e-", "error: Failed to parse"},
      {"1e+", "error: Failed to parse"},
      {"1e-+", "error: Failed to parse"},
      {"15", "error: Failed to parse"},
      {"1e4294967296", "error: Failed to parse"},
      {"1e-4294967296", "error: Failed to parse"},
      {"1e-4294967295", "error: Scale exceeds the maximum precision allowed: 4294967295 > 28"},
      {"1e4294967295", "error: Scale exceeds the maximum precision allowed: 4294967295 > 28"},
      {"e5", "error: Invalid decimal: empty"},
      {"1.2.3e5", "error: Invalid decimal: two decimal points"},
      {"1e-+5", "0.00001"},
      {"1e+3", "1000"},
      {"1e0005", "100000"},
      {"1E5", "100000"},
      {"1.5e3", "1500"},
      {"1.50e3", "1500"},
      {"1.50e1", "15.0"},
      {"2.50e1", "25.0"},
      {"2.50e2", "250"},
      {"0e5", "0"},
      {"-0e5", "0"},
      {"0.00e1", "0.0"},
      {"-1.5e0", "-1.5"},
      {"1.10e-2", "0.0110"},
      {"0.0001e-24", "0.0000000000000000000000000001"},
      {"0.0001e-25", "error: Scale exceeds the maximum precision allowed: 29 > 28"},
      {"1e19", "10000000000000000000"},
      {"1.5e19", "15000000000000000000"},
      {"3e27", "3000000000000000000000000000"},
      {"7.9228162514264337593543950335e28", "79228162514264337593543950335"},
      {"7.9228162514264337593543950336e28", "error: Number exceeds maximum value that can be represented."},
      {"79228162514264337593543950335e0", "79228162514264337593543950335"},
      {"79228162514264337593543950335e1", "error: Number exceeds maximum value that can be represented."},
      {"-123.456e2", "-12345.6"},
      {"1_000e1_0", "error: Failed to parse"},
      // more than 28 fractional digits before the exponent: rounded, then the exponent applies
      {"0.12345678901234567890123456789e5", "12345.67890123456789012345679"},
      {"0.12345678901234567890123456789E-0", "0.1234567890123456789012345679"},
  };
  for (const auto& c : cases) EXPECT_EQ(read(c.text), c.expected) << "reading '" << c.text << "'";
}

// A literal or JSON string is read as plain text first and with its exponent only if that fails.
TEST(DecimalFromScientific, AfterFromStrFails) {
  const char* text = "0.12345678901234567890123456789e5";
  ASSERT_FALSE(Decimal::from_str(text));
  ASSERT_TRUE(Decimal::from_scientific(text));
  EXPECT_EQ(Decimal::from_scientific(text)->to_string(), "12345.67890123456789012345679");
}

TEST(DecimalFract, KeepsScaleAndSign) {
  const struct {
    const char* value;
    const char* expected;
  } cases[] = {
      {"-1.5", "-0.5"},
      {"2.30", "0.30"},
      {"7", "0"},
      {"0.25", "0.25"},
      {"-0.25", "-0.25"},
      {"123.456", "0.456"},
      {"79228162514264337593543950335", "0"},
      {"7.9228162514264337593543950335", "0.9228162514264337593543950335"},
      {"-7.9228162514264337593543950335", "-0.9228162514264337593543950335"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Decimal::from_str(c.value)->fract().to_string(), c.expected) << c.value;
  }
}
