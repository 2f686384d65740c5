#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "decimal/decimal.hpp"

using vexlor::Decimal;

namespace {

std::string convert(double value) {
  const std::optional<Decimal> d = Decimal::from_f64(value);
  return d ? d->to_string() : "nothing";
}

}  // namespace

TEST(DecimalFromF64, Examples) {
  const struct {
    double value;
    const char* expected;
  } cases[] = {
      {0.1, "0.1"},
      {0.30000000000000004, "0.3"},
      {1.0 / 3.0, "0.3333333333333333"},
      {2.0 / 3.0, "0.666666666666667"},
      {123456789.12345679, "123456789.1234568"},
      {1e15 + 0.3, "1000000000000000"},
      {1e20, "100000000000000000000"},
      {1e28, "9999999999999999583119736832"},
      {8e28, "nothing"},
      {1.7976931348623157e308, "nothing"},
      {1e-28, "0.0000000000000000000000000001"},
      {1e-29, "0"},
      {5e-324, "0"},
      {0.0, "0"},
      {-0.0, "-0"},
      {1.0, "1"},
      {-1.5, "-1.5"},
      {0.5, "0.5"},
      {100.0, "100"},
      {123.45, "123.45"},
      {-0.001, "-0.001"},
      {9007199254740993.0, "9007199254740992"},
      {4503599627370496.5, "4503599627370496"},
      {79228162514264337593543950335.0, "nothing"},  // rounds to 2^96
      {79228162514264327593543950335.0, "79228162514264328797450928128"},
      {std::numeric_limits<double>::quiet_NaN(), "nothing"},
      {std::numeric_limits<double>::infinity(), "nothing"},
      {-std::numeric_limits<double>::infinity(), "nothing"},
  };
  for (const auto& c : cases) EXPECT_EQ(convert(c.value), c.expected) << c.value;
}
