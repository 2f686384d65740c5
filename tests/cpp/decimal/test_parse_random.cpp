// Randomised reading checks for long texts (17 to 33 bytes): plain texts take the
// word-at-a-time reader, and the same text with a "_" after its first digit takes
// the byte-by-byte reader; both must give the same value, scale and sign, or the
// same error. Texts are biased to the edges: the point first, last or absent,
// leading zeros, more than 28 fractional digits, coefficients around 2^96, stray
// bytes and a second point.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "decimal/decimal.hpp"
#include "random.hpp"

using vexlor::Decimal;

namespace {

using vexlor::testing::Rng;

std::string random_text(Rng& rng) {
  const uint32_t length = 17 + rng.below(17);  // after the sign
  std::string digits;
  const uint32_t zeros = rng.below(4) == 0 ? rng.below(length) : 0;
  for (uint32_t i = 0; i < length; ++i) {
    const bool near_limit = rng.below(4) == 0;  // "79228162514264337593543950335" and neighbours
    static const char limit[] = "79228162514264337593543950335";
    digits += i < zeros ? '0' : near_limit && i < 29 ? limit[i] : static_cast<char>('0' + rng.below(10));
  }
  switch (rng.below(6)) {
    case 0: break;  // no point
    case 1: digits[0] = '.'; break;
    case 2: digits.back() = '.'; break;
    default: digits[rng.below(length)] = '.'; break;
  }
  if (rng.below(10) == 0) digits[rng.below(length)] = "._ex/:"[rng.below(6)];
  const uint32_t sign = rng.below(4);
  return (sign == 0 ? "-" : sign == 1 ? "+" : "") + digits;
}

std::string describe(const vexlor::Expected<Decimal, vexlor::Error>& r) {
  if (!r) return "error: " + r.error().to_string();
  return r->to_string() + (r->is_sign_negative() ? " (negative)" : "");
}

}  // namespace

TEST(DecimalFromStrRandom, WordReaderAgreesWithByteReader) {
  Rng rng(0x5eed2026);
  int plain = 0;
  for (int i = 0; i < 200000; ++i) {
    const std::string text = random_text(rng);
    const size_t first_digit = text.find_first_of("0123456789");
    if (first_digit == std::string::npos) continue;
    std::string separated = text;
    separated.insert(first_digit + 1, "_");
    const auto fast = Decimal::from_str(text);
    const auto slow = Decimal::from_str(separated);
    plain += static_cast<bool>(fast);
    ASSERT_EQ(describe(fast), describe(slow)) << text << " / " << separated;
    if (fast && slow) {
      ASSERT_TRUE(fast->same_repr(*slow)) << text;
    }
  }
  EXPECT_GT(plain, 100000);
}
