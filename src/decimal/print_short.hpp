#pragma once
// The text of the most common values (a coefficient below 10^8 with a scale
// below 8), built inline where `Decimal::text` is called, and the digit words
// that print.cpp builds the longer texts from. Internal to the decimal module;
// decimal.hpp includes it for the inline path.

#include <bit>
#include <cstdint>
#include <cstring>

namespace vexlor::print_detail {

inline constexpr uint64_t ZERO_CHARS = 0x3030303030303030ull;  // '0' in every byte

inline void store_word(char* p, uint64_t word) { std::memcpy(p, &word, 8); }

// The characters of 0000..9999 as words: the thousands digit in the low byte
// (the first in memory on a little-endian machine). 40 kB, in print_short.cpp.
struct FourDigitChars {
  uint32_t chars[10000];
  constexpr FourDigitChars() : chars() {
    for (uint32_t n = 0; n < 10000; ++n) {
      chars[n] = (0x30u + n / 1000) | (0x30u + n / 100 % 10) << 8 | (0x30u + n / 10 % 10) << 16 | (0x30u + n % 10) << 24;
    }
  }
};
extern const FourDigitChars FOUR_DIGIT_CHARS;

// The eight digit characters of `v` (< 10^8) in one word, the most significant
// in the low byte.
inline uint64_t eight_digit_chars(uint32_t v) {
  const uint32_t high = static_cast<uint32_t>((uint64_t{v} * 3518437209u) >> 45);  // v / 10^4 (exact for v < 10^8)
  return FOUR_DIGIT_CHARS.chars[high] | uint64_t{FOUR_DIGIT_CHARS.chars[v - high * 10000]} << 32;
}

// Writes the text of c / 10^scale (c < 10^8, scale < 8) at `data` (at least 17
// bytes; the bytes after the text are unspecified) and returns its length.
// Little-endian machines only. The eight digit characters come from two table
// words. The text is written with two unaligned word stores at places worked
// out from the leading zeros and the scale: the sign's place ("-", overwritten
// by the first digit when there is no sign) and the whole part, then a word
// starting with the point that holds the fractional digits. No branch depends
// on the digits.
inline uint32_t write_below_1e8(char* data, uint32_t c, uint32_t scale, bool negative) {
  const uint64_t text = eight_digit_chars(c);
  // A bit set in the place of the last whole digit stops the count of leading
  // zeros there: "0.05" keeps the zero before the point.
  const uint32_t last_whole_bit = 56 - 8 * scale;
  const uint32_t first_bit =
      static_cast<uint32_t>(std::countr_zero((text ^ ZERO_CHARS) | (uint64_t{1} << last_whole_bit))) & ~7u;
  char* const p = data + negative;
  data[0] = '-';
  store_word(p, text >> first_bit);
  // The point replaces the last whole digit in a copy shifted down to it.
  const uint32_t shown = 8 - first_bit / 8;  // digits printed
  store_word(p + shown - scale, ((text >> last_whole_bit) & ~uint64_t{0xFF}) | '.');
  return negative + shown + (scale != 0);
}

}  // namespace vexlor::print_detail
