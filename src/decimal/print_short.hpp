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

// Per scale below 8, read from a table to spare the arithmetic: the bit of the
// last whole place in a digit word, the place of the point in a text without
// sign or leading zeros, and the length of that text.
struct ShortLayout {
  uint8_t last_whole_bit[8];
  uint8_t point_place[8];
  uint8_t full_length[8];
};
inline constexpr ShortLayout SHORT_LAYOUT = {
    {56, 48, 40, 32, 24, 16, 8, 0}, {8, 7, 6, 5, 4, 3, 2, 1}, {8, 9, 9, 9, 9, 9, 9, 9}};

// Writes the text of c / 10^scale (c < 10^8, scale < 8) at `data` (at least 17
// bytes; the bytes after the text are unspecified) and returns its length.
// Little-endian machines only. The eight digit characters come from two table
// words. The text is written with two unaligned word stores at places worked
// out from the leading zeros and the scale: the sign's place ("-", overwritten
// by the first digit when there is no sign) and the whole part, then a word
// that holds the fractional digits, its first byte (a whole digit) replaced by
// the point. No branch depends on the digits.
inline uint32_t write_below_1e8(char* data, uint32_t c, uint32_t scale, bool negative) {
  const uint64_t text = eight_digit_chars(c);
  // A bit set in the place of the last whole digit stops the count of leading
  // zeros there: "0.05" keeps the zero before the point.
  const uint32_t last_whole_bit = SHORT_LAYOUT.last_whole_bit[scale];
  const uint32_t zero_bits = static_cast<uint32_t>(std::countr_zero((text ^ ZERO_CHARS) | (uint64_t{1} << last_whole_bit)));
  const uint32_t zeros = zero_bits / 8;  // leading zeros not printed
  data[0] = '-';
  store_word(data + negative, text >> (zero_bits & ~7u));
  char* const point = data + negative + SHORT_LAYOUT.point_place[scale] - zeros;
  store_word(point, text >> last_whole_bit);
  *point = '.';  // after the text when the scale is 0
  return negative + SHORT_LAYOUT.full_length[scale] - zeros;
}

}  // namespace vexlor::print_detail
