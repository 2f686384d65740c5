// Printing: the text form keeps the scale ("1.50", "-0.00") and fits 32 bytes.

#include <cassert>
#include <cstring>

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

// Digits of the coefficient, right-aligned before `end`, preceded by zeros up
// to 32 places before `end`; with `zeros_after`, 32 zeros also follow `end`.
struct Digits {
  char buffer[64];
  char* end = buffer + 32;
  char* start;

  Digits(const Decimal& d, bool zeros_after) {
    std::memset(buffer, '0', 32);
    if (zeros_after) std::memset(end, '0', 32);
    start = put_coefficient(end, d.lo(), d.hi());
  }
  size_t count() const { return static_cast<size_t>(end - start); }
};

}  // namespace

DecimalText Decimal::text() const {
  DecimalText out;
  const Digits digits(*this, false);
  const size_t scale = this->scale();
  const size_t count = digits.count() > scale ? digits.count() : scale + 1;
  const size_t whole = count - scale;
  size_t pos = 0;
  if (is_sign_negative()) out.data[pos++] = '-';
  std::memcpy(out.data + pos, digits.end - count, whole);
  pos += whole;
  if (scale != 0) {
    out.data[pos++] = '.';
    std::memcpy(out.data + pos, digits.end - scale, scale);
    pos += scale;
  }
  assert(pos <= BUFFER_SIZE);
  out.size = static_cast<uint8_t>(pos);
  return out;
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
