// The shortest decimal of a float, found by exact integer arithmetic: with
// x = m * 2^-q, the floats that read back as x lie within half a gap of it, so
// scaled by 2^(q+2) the interval is [4m - 2 (or 4m - 1 at a power of two), 4m + 2]
// (ends included when m is even, as reading rounds half to even). The fewest
// fractional digits s such that one integer n lies in the interval times 10^s
// gives the shortest digits: n / 10^s.

#include "columnar/float_decimal.hpp"

#include <cstdint>
#include <cstring>

#include "decimal/wide.hpp"

namespace vexlor::columnar {
namespace {

using wide::u128;

// The fewest fractional digits s such that exactly one integer n lies in
// [low, high] * 10^s / 2^shift (ends included or not), kept as whole and
// fractional parts so that 64-bit words do when shift <= 60. False when there
// are several, or none within max_scale digits.
template <class Word>
bool fewest_digits(Word low, Word high, unsigned shift, bool inclusive, uint32_t max_scale, uint64_t& n, uint32_t& s) {
  const Word mask = (Word(1) << shift) - Word(1);
  Word low_whole = low >> shift, low_part = low & mask;
  Word high_whole = high >> shift, high_part = high & mask;
  for (s = 0; s <= max_scale; ++s) {
    const Word first = low_whole + Word(inclusive && low_part == Word(0) ? 0 : 1);
    const Word last = high_whole - Word(!inclusive && high_part == Word(0) ? 1 : 0);
    if (first == last) {
      n = static_cast<uint64_t>(wide::lo64(u128(first)));
      return true;
    }
    if (first < last) return false;  // several shortest candidates: the text decides
    low_part = low_part * Word(10);
    low_whole = low_whole * Word(10) + (low_part >> shift);
    low_part = low_part & mask;
    high_part = high_part * Word(10);
    high_whole = high_whole * Word(10) + (high_part >> shift);
    high_part = high_part & mask;
  }
  return false;
}

template <class Float, class Bits, int MANTISSA_BITS, int BIAS, int MAX_SCALE_TRIED>
bool shortest_plain(Float value, Float smallest, Float limit, Decimal& out) {
  Bits bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = (bits >> (sizeof(Bits) * 8 - 1)) != 0;
  const Float magnitude = negative ? -value : value;
  if (!(magnitude >= smallest && magnitude < limit)) return false;  // NaN fails too
  const Bits fraction = bits & ((Bits{1} << MANTISSA_BITS) - 1);
  const int exponent = static_cast<int>((bits >> MANTISSA_BITS) & ((Bits{1} << (sizeof(Bits) * 8 - 1 - MANTISSA_BITS)) - 1));
  const uint64_t m = uint64_t{fraction} | (uint64_t{1} << MANTISSA_BITS);
  const unsigned shift = static_cast<unsigned>(BIAS + MANTISSA_BITS - exponent + 2);  // q + 2, with q >= 0
  const bool inclusive = (m & 1) == 0;
  const uint64_t low = 4 * m - (fraction == 0 ? 1 : 2);
  const uint64_t high = 4 * m + 2;
  uint64_t n = 0;
  uint32_t s = 0;
  const bool found = shift <= 60 ? fewest_digits<uint64_t>(low, high, shift, inclusive, MAX_SCALE_TRIED, n, s)
                                 : fewest_digits<u128>(low, high, shift, inclusive, MAX_SCALE_TRIED, n, s);
  if (!found) return false;
  out = s == 0 ? Decimal::from_parts(n * 10, 0, 1, negative) : Decimal::from_parts(n, 0, s, negative);
  return true;
}

}  // namespace

// A double at least 1e-4 has at most 20 fractional digits in its shortest text,
// and its shortest digits (at most 17) keep the whole parts below 2^64.
bool shortest_decimal(double value, Decimal& out) {
  return shortest_plain<double, uint64_t, 52, 1023, 21>(value, 1e-4, 9007199254740992.0, out);
}

bool shortest_decimal(float value, Decimal& out) {
  return shortest_plain<float, uint32_t, 23, 127, 14>(value, 1e-4f, 16777216.0f, out);
}

}  // namespace vexlor::columnar
