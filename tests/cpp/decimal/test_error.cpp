#include <gtest/gtest.h>

#include "decimal/decimal.hpp"

using vexlor::Decimal;
using vexlor::Error;

TEST(DecimalError, Messages) {
  const struct {
    Error error;
    const char* text;
  } cases[] = {
      {Error::message("Failed to parse"), "Failed to parse"},
      {Error::too_large(), "Number exceeds maximum value that can be represented."},
      {Error::too_small(), "Number less than minimum value that can be represented."},
      {Error::too_precise(), "Number has a high precision that can not be represented."},
      {Error::scale_too_large(29), "Scale exceeds the maximum precision allowed: 29 > 28"},
      {Error::conversion_failed("u32"), "Error while converting to u32"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.error.to_string(), c.text);
}

TEST(DecimalNew, SignMagnitudeAndScale) {
  const Decimal min = Decimal::new_(INT64_MIN, 0);
  EXPECT_TRUE(min.is_sign_negative());
  EXPECT_EQ(min.lo(), uint64_t{1} << 63);
  const Decimal d = Decimal::new_(-150, 2);
  EXPECT_EQ(d.lo(), 150u);
  EXPECT_EQ(d.scale(), 2u);
  EXPECT_TRUE(d.is_sign_negative());
  EXPECT_DEATH(Decimal::new_(1, 29), "Scale exceeds the maximum precision allowed: 29 > 28");
}
