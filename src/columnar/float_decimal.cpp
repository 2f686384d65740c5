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
  u128 low = u128(4 * m - (fraction == 0 ? 1 : 2));
  u128 high = u128(4 * m + 2);
  const u128 round_up = (u128(1) << shift) - u128(1);
  for (uint32_t s = 0; s <= MAX_SCALE_TRIED; ++s) {
    const u128 first = inclusive ? (low + round_up) >> shift : (low >> shift) + u128(1);
    const u128 last = inclusive ? high >> shift : (high - u128(1)) >> shift;
    if (first == last) {
      if (wide::hi64(first) != 0) return false;
      const uint64_t n = wide::lo64(first);
      out = s == 0 ? Decimal::from_parts(n * 10, 0, 1, negative) : Decimal::from_parts(n, 0, s, negative);
      return true;
    }
    if (first < last) return false;  // several shortest candidates: the text decides
    low = low * u128(10);
    high = high * u128(10);
  }
  return false;
}

}  // namespace

// A double at least 1e-4 has at most 20 fractional digits in its shortest text;
// (2^55 + 2) * 10^21 still fits 128 bits.
bool shortest_decimal(double value, Decimal& out) {
  return shortest_plain<double, uint64_t, 52, 1023, 21>(value, 1e-4, 9007199254740992.0, out);
}

bool shortest_decimal(float value, Decimal& out) {
  return shortest_plain<float, uint32_t, 23, 127, 14>(value, 1e-4f, 16777216.0f, out);
}

}  // namespace vexlor::columnar
