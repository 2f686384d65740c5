// Reading decimal text ("-12.50", "1_000") byte by byte, without an exponent.

#include <cstring>

#include "decimal/decimal.hpp"
#include "decimal/wide.hpp"

namespace vexlor {
namespace {

using wide::u128;

constexpr const char* EMPTY = "Invalid decimal: empty";
constexpr const char* LEAD_SEPARATOR = "Invalid decimal: must start lead with a number";
constexpr const char* TWO_POINTS = "Invalid decimal: two decimal points";
constexpr const char* UNKNOWN_CHARACTER = "Invalid decimal: unknown character";
constexpr const char* NO_DIGITS = "Invalid decimal: no digits found";
constexpr const char* TOO_MANY_DIGITS = "Invalid decimal: overflow from too many digits";
constexpr const char* ROUNDING_OVERFLOW = "Invalid decimal: overflow from mantissa after rounding";

// Texts this long may not fit in 64 bits: they check for the switch to 128 bits.
constexpr size_t WIDE_TEXT_LENGTH = 18;
// Past this, one more digit could overflow the 64-bit accumulator.
constexpr uint64_t WILL_OVERFLOW_U64 = UINT64_MAX / 10 - 255;
constexpr u128 COEFFICIENT_LIMIT = wide::make_u128(uint64_t{1} << 32, 0);  // 2^96
// (2^96 + 4) / 10: the coefficient after a rounding that reached 2^96.
constexpr u128 ROUNDED_LIMIT = wide::make_u128(429496729, 11068046444225730970ull);

Unexpected<Error> fail(const char* text) { return unexpected(Error::message(text)); }

Decimal make(u128 coefficient, uint32_t scale, bool negative) {
  const uint64_t lo = wide::lo64(coefficient);
  const uint32_t hi = static_cast<uint32_t>(wide::hi64(coefficient));
  return Decimal::from_parts(lo, hi, scale, negative && (lo | hi) != 0);
}

// Reading stopped with too many fractional digits: `p` is the rounding byte and
// every byte after it is ignored, except that an exponent there must not be lost
// silently (the caller then reads the text with its exponent instead).
Expected<Decimal, Error> round_at(u128 data, uint32_t scale, bool negative, const char* p, const char* end) {
  unsigned digit;
  if (*p >= '0' && *p <= '9') {
    digit = static_cast<unsigned>(*p - '0');
  } else if (*p == '_') {
    digit = 0;
  } else {
    return fail(*p == '.' ? TWO_POINTS : UNKNOWN_CHARACTER);
  }
  const size_t rest = static_cast<size_t>(end - p - 1);
  if (std::memchr(p + 1, 'e', rest) != nullptr || std::memchr(p + 1, 'E', rest) != nullptr) {
    return fail(UNKNOWN_CHARACTER);
  }
  if (digit >= 5) {
    data += 1;
    if (data == COEFFICIENT_LIMIT) {
      if (scale == 0) return fail(ROUNDING_OVERFLOW);
      data = ROUNDED_LIMIT;
      --scale;
    }
  }
  return make(data, scale, negative);
}

// The rest of a long text, accumulated in 128 bits. At least one digit was read.
Expected<Decimal, Error> read_wide(u128 data, uint32_t scale, bool point, bool negative, const char* p,
                                   const char* end) {
  while (p != end) {
    const unsigned digit = static_cast<unsigned>(static_cast<unsigned char>(*p)) - '0';
    if (digit <= 9) {
      const u128 next = data * 10 + digit;
      if (next >= COEFFICIENT_LIMIT) {
        if (!point) return fail(TOO_MANY_DIGITS);
        return round_at(data, scale, negative, p, end);
      }
      data = next;
      scale += point;
      ++p;
      if (point && scale >= MAX_SCALE && p != end) {
        while (p != end && *p == '_') ++p;
        if (p == end) break;
        return round_at(data, scale, negative, p, end);
      }
    } else if (*p == '.') {
      if (point) return fail(TWO_POINTS);
      point = true;
      ++p;
    } else if (*p == '_') {
      ++p;
    } else {
      return fail(UNKNOWN_CHARACTER);
    }
  }
  return make(data, scale, negative);
}

}  // namespace

Expected<Decimal, Error> Decimal::from_str(std::string_view text) {
  const char* p = text.data();
  const char* const end = p + text.size();
  if (p == end) return fail(EMPTY);
  bool negative = false;
  if (*p == '-') {
    negative = true;
    ++p;
  } else if (*p == '+') {
    ++p;
  }
  const bool wide_text = text.size() >= WIDE_TEXT_LENGTH;
  uint64_t data = 0;
  uint32_t scale = 0;
  bool point = false;
  bool has_digit = false;
  while (p != end) {
    const unsigned digit = static_cast<unsigned>(static_cast<unsigned char>(*p)) - '0';
    if (digit <= 9) {
      data = data * 10 + digit;
      scale += point;
      has_digit = true;
      ++p;
      if (wide_text && p != end) {
        if (point && scale >= MAX_SCALE) return round_at(data, scale, negative, p, end);
        if (data >= WILL_OVERFLOW_U64) return read_wide(data, scale, point, negative, p, end);
      }
    } else if (*p == '.') {
      if (point) return fail(TWO_POINTS);
      point = true;
      ++p;
    } else if (*p == '_') {
      if (!has_digit) return fail(LEAD_SEPARATOR);
      ++p;
    } else {
      return fail(UNKNOWN_CHARACTER);
    }
  }
  if (!has_digit) return fail(NO_DIGITS);
  return from_parts(data, 0, scale, negative && data != 0);
}

}  // namespace vexlor
