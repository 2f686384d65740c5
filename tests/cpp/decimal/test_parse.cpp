#include <gtest/gtest.h>

#include <string>

#include "decimal/decimal.hpp"

using vexlor::Decimal;

namespace {

// The text form is exact (sign bit, every digit and the scale), so it identifies the value read.
std::string read(std::string_view text) {
  auto r = Decimal::from_str(text);
  return r ? r->to_string() : "error: " + r.error().to_string();
}

struct Case {
  const char* text;
  const char* expected;  // text form, or "error: <message>"
};

void check(const Case* begin, const Case* end) {
  for (const Case* c = begin; c != end; ++c) EXPECT_EQ(read(c->text), c->expected) << "reading '" << c->text << "'";
}

#define CHECK_TABLE(table) check(std::begin(table), std::end(table))

}  // namespace

TEST(DecimalFromStr, PlainForms) {
  const Case cases[] = {
      {"0", "0"},
      {"1", "1"},
      {"-1", "-1"},
      {"+1", "1"},
      {"123.45", "123.45"},
      {"-123.450", "-123.450"},
      {"1.", "1"},
      {"5.", "5"},
      {".5", "0.5"},
      {"-.5", "-0.5"},
      {"007", "7"},
      {"00.0100", "0.0100"},
      {"1_000", "1000"},
      {"1__0", "10"},
      {"1_", "1"},
      {"1._5", "1.5"},
      {"1_.5", "1.5"},
      {"1.5_", "1.5"},
      {"-0", "0"},
      {"+0.000", "0.000"},
      {"-0.00", "0.00"},
      {"18446744073709551615", "18446744073709551615"},
      {"18446744073709551616", "18446744073709551616"},
      {"79228162514264337593543950335", "79228162514264337593543950335"},
      {"-79228162514264337593543950335", "-79228162514264337593543950335"},
      {"7.9228162514264337593543950335", "7.9228162514264337593543950335"},
      {"0.0000000000000000000000000001", "0.0000000000000000000000000001"},
      {"-0.0000000000000000000000000001", "-0.0000000000000000000000000001"},
      {"0000000000000000000000000000000000000001", "1"},
      {"1_000_000_000_000_000_000_000_000", "1000000000000000000000000"},
  };
  CHECK_TABLE(cases);
}

TEST(DecimalFromStr, Errors) {
  const Case cases[] = {
      {"", "error: Invalid decimal: empty"},
      {"-", "error: Invalid decimal: no digits found"},
      {"+", "error: Invalid decimal: no digits found"},
      {".", "error: Invalid decimal: no digits found"},
      {"-.", "error: Invalid decimal: no digits found"},
      {"_1", "error: Invalid decimal: must start lead with a number"},
      {"+_1", "error: Invalid decimal: must start lead with a number"},
      {"._1", "error: Invalid decimal: must start lead with a number"},
      {"1.2.3", "error: Invalid decimal: two decimal points"},
      {"1..", "error: Invalid decimal: two decimal points"},
      {" 1", "error: Invalid decimal: unknown character"},
      {"1 ", "error: Invalid decimal: unknown character"},
      {"--1", "error: Invalid decimal: unknown character"},
      {"+-1", "error: Invalid decimal: unknown character"},
      {"1-", "error: Invalid decimal: unknown character"},
      {"1e5", "error: Invalid decimal: unknown character"},
      {"abc", "error: Invalid decimal: unknown character"},
      {"79228162514264337593543950336", "error: Invalid decimal: overflow from too many digits"},
      {"100000000000000000000000000000", "error: Invalid decimal: overflow from too many digits"},
      {"79228162514264337593543950335.5", "error: Invalid decimal: overflow from mantissa after rounding"},
      {"1234567890123456789x", "error: Invalid decimal: unknown character"},
      {"12345678901234567890.1.", "error: Invalid decimal: two decimal points"},
  };
  CHECK_TABLE(cases);
}

TEST(DecimalFromStr, TooManyFractionalDigitsRoundOnTheNextByte) {
  const Case cases[] = {
      {"0.12345678901234567890123456789", "0.1234567890123456789012345679"},
      {"0.12345678901234567890123456784999", "0.1234567890123456789012345678"},
      {"1.99999999999999999999999999999", "2.0000000000000000000000000000"},
      {"9.9999999999999999999999999999", "10.000000000000000000000000000"},
      {"7922816251426433759354395033.55", "7922816251426433759354395034"},
      {"79228162514264337593543950335.4", "79228162514264337593543950335"},
      {"0.00000000000000000000000000000001", "0.0000000000000000000000000000"},
      {"-0.00000000000000000000000000005", "-0.0000000000000000000000000001"},
      {"-0.00000000000000000000000000004", "0.0000000000000000000000000000"},
      {"0.12345678901234567890123456789x", "0.1234567890123456789012345679"},
      {"0.1234567890123456789012345678.", "error: Invalid decimal: two decimal points"},
      {"0.1234567890123456789012345678x", "error: Invalid decimal: unknown character"},
      {"0.1234567890123456789012345678-", "error: Invalid decimal: unknown character"},
      // the bytes after the rounding byte are not checked...
      {"0.12345678901234567890123456781.x-", "0.1234567890123456789012345678"},
      // ...except for an exponent, which must not vanish
      {"0.12345678901234567890123456789e5", "error: Invalid decimal: unknown character"},
      {"0.12345678901234567890123456789E-5", "error: Invalid decimal: unknown character"},
      {"0.123456789012345678901234567891234e5", "error: Invalid decimal: unknown character"},
      {"79228162514264337593543950335.5e1", "error: Invalid decimal: unknown character"},
      {"9.99999999999999999999999999999999x", "10.000000000000000000000000000"},
  };
  CHECK_TABLE(cases);
}

// An underscore in the rounding position: texts whose coefficient never left 64 bits count
// it as a 0; the others skip the underscores and round on the byte after them.
TEST(DecimalFromStr, UnderscoreInTheRoundingPosition) {
  const Case cases[] = {
      {"0.0000000000000000000000000001_9", "0.0000000000000000000000000001"},
      {"0.0000000000000000000000000001_", "0.0000000000000000000000000001"},
      {"0.0000000001234567890123456789_9", "0.0000000001234567890123456789"},
      {"0.1234567890123456789012345678_9", "0.1234567890123456789012345679"},
      {"0.1234567890123456789012345678__9", "0.1234567890123456789012345679"},
      {"0.1234567890123456789012345678_4", "0.1234567890123456789012345678"},
      {"0.1234567890123456789012345678_", "0.1234567890123456789012345678"},
      {"0.1234567890123456789012345678___", "0.1234567890123456789012345678"},
      {"0.1234567890123456789012345678_x", "error: Invalid decimal: unknown character"},
      {"0.1234567890123456789012345678_.", "error: Invalid decimal: two decimal points"},
      {"0.1234567890123456789012345678_9e1", "error: Invalid decimal: unknown character"},
      // the switch happens when the coefficient reaches 1844674407370954906 before the 28th digit
      {"0.0000000018446744073709549050_9", "0.0000000018446744073709549050"},
      {"0.0000000018446744073709549060_9", "0.0000000018446744073709549061"},
      // ...but not when the 28th fractional digit makes it reach that
      {"0.0000000001844674407370954906_9", "0.0000000001844674407370954906"},
      // short texts never switch
      {"1844674407370954_", "1844674407370954"},
  };
  CHECK_TABLE(cases);
}
