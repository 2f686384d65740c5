// Reading decimal text ("-12.50", "1_000") byte by byte, without an exponent.

#include <bit>
#include <cstdint>
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


// ---- Long plain texts (digits with at most one point, 16 to 32 bytes after the
// sign) are read eight bytes at a time with no branch on the digits. Everything else
// (separators, errors, rounding, more than 28 fractional digits, a coefficient of
// 2^96 or more) goes to the byte-by-byte reader, which gives the same value for
// every text read here.

constexpr uint64_t ONES = 0x0101010101010101ull;
constexpr uint64_t HIGH_BITS = 0x80 * ONES;

inline uint64_t load8(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// The high bit of each byte that is not "0" to "9".
inline uint64_t nondigit_flags(uint64_t w) {
  const uint64_t x = w ^ (0x30 * ONES);
  return (((x & (0x7F * ONES)) + 0x76 * ONES) | x) & HIGH_BITS;
}

// The high bit of each byte equal to '.'.
inline uint64_t point_flags(uint64_t w) {
  const uint64_t y = w ^ (0x2E * ONES);
  return ~(((y & (0x7F * ONES)) + 0x7F * ONES) | y) & HIGH_BITS;
}

// One bit per byte: bit j is the high bit of byte j.
inline uint32_t gather(uint64_t flags) {
  return static_cast<uint32_t>(((flags >> 7) * 0x0102040810204080ull) >> 56);
}

// The value of eight digit values, the most significant in the lowest byte.
inline uint64_t value8(uint64_t d) {
  d = d * 10 + (d >> 8);
  constexpr uint64_t MASK = 0x000000FF000000FFull;
  return (((d & MASK) * (100 + (1000000ull << 32))) + (((d >> 16) & MASK) * (1 + (10000ull << 32)))) >> 32;
}

// Bytes below `bytes` (0 to 16) of a 16-byte word.
inline u128 low_bytes(uint32_t bytes) {
  const u128 ones = ~u128(0);
  return ~((ones << (4 * bytes)) << (4 * bytes));
}

// Digit values of a word of text bytes: zero where the byte is not a digit.
inline uint64_t digit_values(uint64_t w) {
  return (w ^ (0x30 * ONES)) & ~((nondigit_flags(w) >> 7) * 0xFF);
}

inline uint64_t value16(u128 digits) {
  return value8(wide::lo64(digits)) * 100000000 + value8(wide::hi64(digits));
}

// The layout of a plain text of n bytes (1 to 32) after the sign, from its bytes
// as words; false when it is not plain.
struct Layout {
  uint32_t has_point;
  uint32_t point_at;  // n without a point
  uint32_t scale;
};

template <int W>
inline bool layout_of(const uint64_t (&w)[W], uint32_t n, Layout& layout) {
  uint32_t nondigits = 0, points = 0;
  for (int i = 0; i < W; ++i) {
    nondigits |= gather(nondigit_flags(w[i])) << (8 * i);
    points |= gather(point_flags(w[i])) << (8 * i);
  }
  const uint32_t inside = n >= 32 ? ~0u : (1u << n) - 1;
  if (((nondigits & inside & ~points) | (points & (points - 1))) != 0) return false;
  layout.has_point = points != 0;
  layout.point_at = layout.has_point ? static_cast<uint32_t>(std::countr_zero(points)) : n;
  layout.scale = layout.has_point ? n - 1 - layout.point_at : 0;
  return n > layout.has_point && layout.scale <= MAX_SCALE;
}

// 16 bytes: the digits with the point taken out, moved up so that the last
// digit is in the highest byte (zeros, that is leading zeros, below).
[[gnu::noinline]] bool read_plain16(uint64_t w0, uint64_t w1, uint32_t n, bool negative, Decimal& out) {
  const uint64_t w[2] = {w0, w1};
  Layout layout;
  if (!layout_of(w, n, layout)) return false;
  const u128 digits = wide::make_u128(digit_values(w1), digit_values(w0));
  const uint32_t shift = 16 - n;
  const u128 before = digits << (8 * (shift + layout.has_point));
  const u128 after = digits << (8 * shift);
  const u128 mask = low_bytes(layout.point_at + shift + layout.has_point);
  const uint64_t v = value16((before & mask) | (after & ~mask));
  out = Decimal::from_parts(v, 0, layout.scale, negative && v != 0);
  return true;
}

// 32 bytes of 0xFF then 32 of zero: the eight bytes from 32 - k + 8i are the
// mask of the bytes below k (0 to 32) in word i of a 32-byte block.
constexpr struct BelowMasks {
  unsigned char bytes[64];
  constexpr BelowMasks() : bytes() {
    for (int i = 0; i < 32; ++i) bytes[i] = 0xFF;
  }
} BELOW_MASKS;

// 17 to 32 bytes, placed at the end of a 32-byte block led by "0"s: the first
// 16 bytes moved up over the padding, the last 16 loaded where they end. The
// digits before the point move up one byte over it (a fixed shift of the part
// below the point), then four words of eight digits give the coefficient.
[[gnu::noinline]] bool read_plain32(const char* p, uint32_t n, bool negative, Decimal& out) {
  const uint32_t pad = 32 - n;  // 0 to 15
  const unsigned char* const padding = BELOW_MASKS.bytes + 32 - pad;
  const uint64_t front_lo = load8(reinterpret_cast<const char*>(padding)) & (0x30 * ONES);
  const uint64_t front_hi = load8(reinterpret_cast<const char*>(padding) + 8) & (0x30 * ONES);
  const u128 front = (wide::make_u128(load8(p + 8), load8(p)) << (8 * pad)) | wide::make_u128(front_hi, front_lo);
  const uint64_t w[4] = {wide::lo64(front), wide::hi64(front), load8(p + n - 16), load8(p + n - 8)};
  uint32_t nondigits = 0;
  for (int i = 0; i < 4; ++i) nondigits |= gather(nondigit_flags(w[i])) << (8 * i);
  // At most one byte is not a digit, and that one is the point.
  const uint32_t has_point = nondigits != 0;
  const uint32_t at = has_point ? static_cast<uint32_t>(std::countr_zero(nondigits)) : 0;
  if ((nondigits & (nondigits - 1)) != 0 || (has_point && p[at - pad] != '.')) return false;
  const uint32_t scale = has_point ? 31 - at : 0;
  if (scale > MAX_SCALE) return false;
  // Every byte that is not a digit is the point: the bytes up to it are cleared,
  // the ones before it put back one byte higher.
  const unsigned char* const before_point = BELOW_MASKS.bytes + 32 - at;
  const unsigned char* const up_to_point = before_point - has_point;
  uint64_t digits[4], carry = 0;
  for (int i = 0; i < 4; ++i) {
    const uint64_t d = w[i] ^ (0x30 * ONES);
    uint64_t before, up_to;
    std::memcpy(&before, before_point + 8 * i, 8);
    std::memcpy(&up_to, up_to_point + 8 * i, 8);
    before &= d;
    digits[i] = (d & ~up_to) | (before << 8) | carry;
    carry = before >> 56;
  }
  const uint64_t high = value8(digits[0]) * 100000000 + value8(digits[1]);
  const uint64_t low = value8(digits[2]) * 100000000 + value8(digits[3]);
  const u128 v = wide::mul64(high, 10000000000000000ull) + low;
  if (v >= COEFFICIENT_LIMIT) return false;
  out = make(v, scale, negative);
  return true;
}

inline bool read_plain(const char* p, uint32_t n, bool negative, Decimal& out) {
  if constexpr (std::endian::native != std::endian::little) {
    return false;
  } else {
    if (n > 16) return n <= 32 && read_plain32(p, n, negative, out);
    return n == 16 && read_plain16(load8(p), load8(p + 8), n, negative, out);
  }
}

}  // namespace

namespace {

// The byte-by-byte reader: every text, with the exact error of each.
[[gnu::noinline]] Expected<Decimal, Error> read_bytes(std::string_view text) {
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
  return Decimal::from_parts(data, 0, scale, negative && data != 0);
}

}  // namespace

namespace {

// Every text the short reader does not take.
[[gnu::noinline]] Expected<Decimal, Error> read_long(std::string_view text) {
  const size_t size = text.size();
  if (size > 16 && size <= 33) {
    const char* p = text.data();
    const bool negative = *p == '-';
    const uint32_t skip = negative || *p == '+';
    Decimal plain;
    if (read_plain(p + skip, static_cast<uint32_t>(size) - skip, negative, plain)) return plain;
  }
  return read_bytes(text);
}

}  // namespace

Expected<Decimal, Error> Decimal::from_str(std::string_view text) {
  const size_t size = text.size();
  if (size - 1 < 16) {
    // Digits with at most one point: a loop with one well-predicted test per byte.
    const char* p = text.data();
    const char* const end = p + size;
    const bool negative = *p == '-';
    p += negative | (*p == '+');
    const char* const first = p;
    const char* point = nullptr;
    uint64_t data = 0;
    for (; p != end; ++p) {
      const unsigned digit = static_cast<unsigned>(static_cast<unsigned char>(*p)) - '0';
      if (digit > 9) {
        if (*p != '.' || point != nullptr) return read_bytes(text);
        point = p;
        continue;
      }
      data = data * 10 + digit;
    }
    const uint32_t bytes = static_cast<uint32_t>(end - first);
    const uint32_t scale = point != nullptr ? static_cast<uint32_t>(end - point) - 1 : 0;
    if (bytes == (point != nullptr)) return read_bytes(text);
    return Decimal::from_parts(data, 0, scale, negative && data != 0);
  }
  return read_long(text);
}

}  // namespace vexlor
