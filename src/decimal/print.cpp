// Printing: the text form keeps the scale ("1.50", "-0.00") and fits 32 bytes.
// On little-endian machines texts are built in words of eight characters
// (digits from a table of four-digit groups) and written with unaligned word
// stores; big-endian machines print digit pairs one at a time.

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstring>

#include "decimal/arith_internal.hpp"
#include "decimal/coef96.hpp"
#include "decimal/decimal.hpp"

namespace vexlor {
namespace {

constexpr size_t BUFFER_SIZE = 32;

constexpr char DIGIT_PAIRS[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline char* put_pair(char* p, uint32_t two_digits) {
  p -= 2;
  std::memcpy(p, DIGIT_PAIRS + 2 * two_digits, 2);
  return p;
}

// Writes exactly eight digits of `v` (< 10^8) before `p`.
inline char* put_eight(char* p, uint32_t v) {
  const uint32_t high = v / 10000, low = v % 10000;
  p = put_pair(p, low % 100);
  p = put_pair(p, low / 100);
  p = put_pair(p, high % 100);
  return put_pair(p, high / 100);
}

// Writes the digits of `v` before `p` without leading zeros (nothing for 0).
inline char* put_u32(char* p, uint32_t v) {
  while (v >= 100) {
    p = put_pair(p, v % 100);
    v /= 100;
  }
  if (v >= 10) return put_pair(p, v);
  if (v != 0) *--p = static_cast<char>('0' + v);
  return p;
}

inline char* put_u64(char* p, uint64_t v) {
  while (v >= 100000000) {
    p = put_eight(p, static_cast<uint32_t>(v % 100000000));
    v /= 100000000;
  }
  return put_u32(p, static_cast<uint32_t>(v));
}

// Writes the coefficient's digits before `end`, returns where they start.
inline char* put_coefficient(char* end, uint64_t lo, uint32_t hi) {
  coef96::Coef c{lo, hi};
  while (c.hi != 0) {  // at most twice: a chunk of nine digits each time
    const uint32_t chunk = coef96::divmod(c, 1000000000u);
    end = put_eight(end, chunk % 100000000);
    *--end = static_cast<char>('0' + chunk / 100000000);
  }
  return put_u64(end, c.lo);
}

using arith::POW10_U64;
using print_detail::eight_digit_chars;
using print_detail::store_word;
using print_detail::ZERO_CHARS;

// Coefficients below 10^16 with a scale below 16: two words of digits, `high`
// with places 0..7 and `low` with places 8..15, placed with unaligned word
// stores like the shortest texts (print_short.hpp); each store may write
// digits past its part, which a later store overwrites.
inline void text_below_1e16(uint64_t c, uint32_t scale, bool negative, DecimalText& out) {
  const uint64_t text_high = eight_digit_chars(static_cast<uint32_t>(c / 100000000));
  const uint64_t text_low = eight_digit_chars(static_cast<uint32_t>(c % 100000000));
  const uint64_t high = text_high ^ ZERO_CHARS, low = text_low ^ ZERO_CHARS;  // digit values
  const uint32_t zeros = high != 0 ? static_cast<uint32_t>(std::countr_zero(high)) >> 3
                                   : 8 + (static_cast<uint32_t>(std::countr_zero(low | (uint64_t{1} << 56))) >> 3);
  const uint32_t first = std::min(zeros, 15 - scale);
  const uint32_t whole = 16 - scale - first;
  char* const p = out.data + negative;
  out.data[0] = '-';
  // The whole part: from `high` when it starts there (else a word that the next store replaces), then from `low`.
  store_word(p, text_high >> (8 * first & 63));
  const bool starts_high = first < 8;
  store_word(p + (starts_high ? 8 - first : 0), text_low >> (starts_high ? 0 : 8 * (first - 8)));
  // The point, followed by the fractional digits of `high` (a scale of 8 or more), then those of `low`.
  store_word(p + whole, ((text_high >> (8 * (15 - scale) & 63)) & ~uint64_t{0xFF}) | '.');
  const bool fraction_in_high = scale >= 8;
  store_word(p + whole + 1 + (fraction_in_high ? scale - 8 : 0),
             fraction_in_high ? text_low : text_low >> (8 * (8 - scale) & 63));
  out.size = static_cast<uint8_t>(negative + whole + scale + (scale != 0));
}

// Texts on big-endian machines, built without word stores.

// Base 10^8 limbs of the coefficient, least significant first; returns the
// number of decimal digits (0 for a zero coefficient).
inline uint32_t to_limbs(uint64_t lo, uint32_t hi, uint32_t (&limbs)[4]) {
  coef96::Coef c{lo, hi};
  uint32_t k = 0;
  while (c.hi != 0) limbs[k++] = coef96::divmod(c, 100000000u);
  uint64_t v = c.lo;
  while (v >= 100000000u) {
    limbs[k++] = static_cast<uint32_t>(v % 100000000u);
    v /= 100000000u;
  }
  const uint32_t top = static_cast<uint32_t>(v);
  limbs[k] = top;
  const uint32_t guess = static_cast<uint32_t>(std::bit_width(top) * 1233) >> 12;
  return 8 * k + guess + (top >= coef96::POW10_U32[guess]);
}

// The layout is known before any digit is written, so the digits go straight to
// their places two at a time, skipping the place of the point, with few
// data-dependent branches. (Assembling the text from a digit buffer with wide
// copies is slower: wide loads cannot be served from narrow stores in flight.)
inline void long_text(uint64_t lo, uint32_t hi, uint32_t scale, bool negative, DecimalText& out) {
  uint32_t limbs[4] = {0, 0, 0, 0};
  const uint32_t digits = to_limbs(lo, hi, limbs);
  const uint32_t count = digits > scale ? digits : scale + 1;  // with the zeros of "0.005"
  const uint32_t length = negative + count + (scale != 0);
  assert(length <= BUFFER_SIZE);

  uint8_t pairs[16];  // pairs[k]: the digits with indices 2k and 2k + 1 from the right
  const uint32_t used_limbs = (count + 7) / 8;
  for (uint32_t j = 0; j < used_limbs; ++j) {
    const uint32_t high = limbs[j] / 10000, low = limbs[j] % 10000;
    pairs[4 * j] = static_cast<uint8_t>(low % 100);
    pairs[4 * j + 1] = static_cast<uint8_t>(low / 100);
    pairs[4 * j + 2] = static_cast<uint8_t>(high % 100);
    pairs[4 * j + 3] = static_cast<uint8_t>(high / 100);
  }
  const auto digit = [&pairs](uint32_t i) { return DIGIT_PAIRS[2 * pairs[i / 2] + 1 - (i & 1)]; };

  out.data[0] = '-';  // overwritten by the first digit when the value is not negative
  char* const end = out.data + length;
  const uint32_t point_after = scale != 0 ? scale : 64;  // digits right of the point
  const uint32_t pair_count = count / 2;
  for (uint32_t k = 0; k < pair_count; ++k) {
    const uint32_t i = 2 * k;
    std::memcpy(end - i - 2 - (i >= point_after), DIGIT_PAIRS + 2 * pairs[k], 2);
  }
  // The leading digit: alone when the count is odd, else written once more.
  end[-static_cast<ptrdiff_t>(count) - (scale != 0)] = digit(count - 1);
  if (scale != 0) {
    // With an odd scale the pair across the point put its high digit on the point's place.
    end[-static_cast<ptrdiff_t>(scale) - 2] = digit(scale);
    end[-static_cast<ptrdiff_t>(scale) - 1] = '.';
  }
  out.size = static_cast<uint8_t>(length);
}

// Powers of ten up to 10^28 as two words, for the digit count of any coefficient.
struct Pow10Wide {
  uint64_t lo[29];
  uint64_t hi[29];
  constexpr Pow10Wide() : lo(), hi() {
    uint64_t l = 1, h = 0;
    for (int n = 0; n < 29; ++n) {
      lo[n] = l;
      hi[n] = h;
      // times ten in 32-bit pieces
      const uint64_t l0 = (l & 0xFFFFFFFFu) * 10, l1 = (l >> 32) * 10 + (l0 >> 32);
      h = h * 10 + (l1 >> 32);
      l = (l1 << 32) | (l0 & 0xFFFFFFFFu);
    }
  }
};
inline constexpr Pow10Wide POW10_WIDE;

inline uint32_t digit_count(uint64_t lo, uint32_t hi) {
  const int bits = hi != 0 ? 64 + std::bit_width(hi) : std::bit_width(lo | 1);
  const uint32_t guess = static_cast<uint32_t>(bits * 1233) >> 12;  // at most 28
  return guess + (wide::make_u128(hi, lo) >= wide::make_u128(POW10_WIDE.hi[guess], POW10_WIDE.lo[guess]));
}

// (high, low) = (m / 10^16, m % 10^16) for m below 10^32. The quotient comes
// from the top 55 bits of m times floor(2^116 / 10^16), short by at most one.
inline void split_1e16(wide::u128 m, uint64_t& high, uint64_t& low) {
  constexpr uint64_t P16 = 10000000000000000ull;
  const uint64_t top = (wide::hi64(m) << 12) | (wide::lo64(m) >> 52);
  high = wide::hi64(wide::mul64(top, 8307674973655724205ull));
  low = wide::lo64(m) - high * P16;  // exact: the true difference is below 2 * 10^16
  const bool over = low >= P16;
  high += over;
  low -= over ? P16 : 0;
}

// From `FROM_WHOLE + scale + 8k`: bytes set where the k-th word of the field
// in `wide_text` holds whole digits.
constexpr unsigned char FROM_WHOLE[64] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

inline uint64_t select_word(bool second, uint64_t first_word, uint64_t second_word) {
  return first_word ^ ((first_word ^ second_word) & (uint64_t{0} - second));
}

// Texts of 17 places or more (a coefficient of 17 digits or more, or a scale
// of 16 or more). The coefficient is split at 10^16 once, and into the digit
// characters of its 32 places (the most significant first). The text is cut
// into a field of four words that ends where the text ends: each word blends
// the digits of its places (the fractional part) with the digits one place
// further on (the whole part, which sits one place further left because of the
// point). The field depends only on the scale; where it starts (before the
// text) depends on the number of digits, worked out alongside: the word that
// holds the text's first place is shifted down to it and stored first, the
// others follow at their places; then the point and the sign. No branch
// depends on the value.
inline void wide_text(uint64_t lo, uint32_t hi, uint32_t scale, bool negative, DecimalText& out) {
  uint64_t high, low;
  split_1e16(wide::make_u128(hi, lo), high, low);
  const uint64_t word0 = eight_digit_chars(static_cast<uint32_t>(high / 100000000));
  const uint64_t word1 = eight_digit_chars(static_cast<uint32_t>(high % 100000000));
  const uint64_t word2 = eight_digit_chars(static_cast<uint32_t>(low / 100000000));
  const uint64_t word3 = eight_digit_chars(static_cast<uint32_t>(low % 100000000));
  // (Word by word: as a loop over arrays the compiler builds it in vector
  // registers through memory, which costs a wait for the stores.)
  const auto blend = [scale](uint32_t k, uint64_t word, uint64_t next) {
    const uint64_t moved = (word >> 8) | (next << 56);
    uint64_t from_whole;
    std::memcpy(&from_whole, FROM_WHOLE + scale + 8 * k, 8);
    return word ^ ((word ^ moved) & from_whole);
  };
  const uint64_t field0 = blend(0, word0, word1), field1 = blend(1, word1, word2);
  const uint64_t field2 = blend(2, word2, word3), field3 = blend(3, word3, 0);
  // The field ends after the text, or after the place a point would take
  // when there is no fraction.
  const uint32_t count = std::max(digit_count(lo, hi), scale + 1);  // 17..29 (with the zero of "0.5")
  const uint32_t end = negative + count + 1;
  assert(count >= 17 && end <= BUFFER_SIZE - 1);
  const uint32_t before = 32 - end;  // places of the field before the text: 1..14
  const bool head_in_second = before >= 8;
  char* const data = out.data;
  store_word(data, select_word(head_in_second, field0, field1) >> (8 * (before & 7)));
  store_word(data + end - (head_in_second ? 16 : 24), field1);  // replaced by the next store when in the head
  store_word(data + end - 16, field2);
  store_word(data + end - 8, field3);
  data[end - 1 - scale] = '.';  // after the text when the scale is 0
  data[negative ? 0 : end] = '-';  // else after the text
  out.size = static_cast<uint8_t>(end - (scale == 0));
}

// Digits of the coefficient, right-aligned before `end`, preceded by zeros up
// to 32 places before `end`; with `zeros_after`, 32 zeros also follow `end`.
struct Digits {
  char buffer[64];
  char* end = buffer + 32;
  char* start;

  Digits(const Decimal& d, bool zeros_after) {
    if (zeros_after) std::memset(end, '0', 32);
    if (std::endian::native == std::endian::little) {
      uint64_t high, low;
      split_1e16(wide::make_u128(d.hi(), d.lo()), high, low);
      store_word(buffer, eight_digit_chars(static_cast<uint32_t>(high / 100000000)));
      store_word(buffer + 8, eight_digit_chars(static_cast<uint32_t>(high % 100000000)));
      store_word(buffer + 16, eight_digit_chars(static_cast<uint32_t>(low / 100000000)));
      store_word(buffer + 24, eight_digit_chars(static_cast<uint32_t>(low % 100000000)));
      start = end - digit_count(d.lo(), d.hi());
    } else {
      std::memset(buffer, '0', 32);
      start = put_coefficient(end, d.lo(), d.hi());
    }
  }
  size_t count() const { return static_cast<size_t>(end - start); }
};

}  // namespace

// Texts that are not short, and all texts on big-endian machines.
void Decimal::text_beyond_short(DecimalText& out) const {
  const uint32_t scale = this->scale();
  const bool negative = is_sign_negative();
  if (std::endian::native != std::endian::little) {
    long_text(lo_, hi_, scale, negative, out);
  } else if (hi_ == 0 && lo_ < POW10_U64[16] && scale < 16) {
    text_below_1e16(lo_, scale, negative, out);
  } else {
    wide_text(lo_, hi_, scale, negative, out);
  }
}

// A precision below the scale cuts digits off, one above it appends zeros. The
// zeros beyond 28 fractional digits, and any that would not fit the 32 bytes of
// `out` (a wide integer printed with many fractional digits), are left to the
// caller through `extra_zeros`; they are always the last characters.
size_t Decimal::to_str_internal(bool append_sign, std::optional<uint32_t> precision, char* out,
                                size_t& extra_zeros) const {
  const Digits digits(*this, true);
  const size_t scale = this->scale();
  const size_t count = digits.count() > scale ? digits.count() : scale;
  const size_t whole = count - scale;
  size_t fraction = scale;
  extra_zeros = 0;
  if (precision) {
    fraction = *precision;
    if (fraction > MAX_SCALE) {
      extra_zeros = fraction - MAX_SCALE;
      fraction = MAX_SCALE;
    }
  }
  size_t pos = 0;
  if (append_sign && is_sign_negative()) out[pos++] = '-';
  const size_t empty = pos;
  std::memcpy(out + pos, digits.end - count, whole);
  pos += whole;
  if (fraction != 0) {
    if (whole == 0) out[pos++] = '0';
    out[pos++] = '.';
    size_t shown = fraction;
    if (pos + shown > BUFFER_SIZE) {
      extra_zeros += pos + shown - BUFFER_SIZE;
      shown = BUFFER_SIZE - pos;
    }
    std::memcpy(out + pos, digits.end - scale, shown);
    pos += shown;
  }
  if (pos == empty) out[pos++] = '0';
  return pos;
}

}  // namespace vexlor
