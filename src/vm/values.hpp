#pragma once
// Reading results of the decimal operations (internal to the vm module).

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "decimal/decimal.hpp"

namespace vexlor {

// A copy of `d` read field by field. The decimal operations write a result's words
// one by one; reading them back as a single 16-byte unit stalls the store buffer,
// which costs more than the copy itself.
inline Decimal fresh_copy(const Decimal& d) {
  return Decimal::from_parts(d.lo(), d.hi(), d.scale(), d.is_sign_negative());
}

// A copy of a value on the machine's stack, read as its two 64-bit words. Every
// instruction writes its result as whole words (or all 16 bytes at once), so each
// read is served by a single earlier write. The empty asm keeps the two reads
// from being merged into one 16-byte read.
inline Decimal stack_copy(const Decimal& d) {
  uint64_t words[2];
  std::memcpy(&words[0], &d, 8);
  std::memcpy(&words[1], reinterpret_cast<const unsigned char*>(&d) + 8, 8);
  asm("" : "+r"(words[0]), "+r"(words[1]));
  return std::bit_cast<Decimal>(std::array<uint64_t, 2>{words[0], words[1]});
}

// `d` with its sign flipped, written as whole words (see stack_copy).
inline Decimal negated_words(const Decimal& d) {
  const Decimal c = stack_copy(d);
  auto words = std::bit_cast<std::array<uint64_t, 2>>(c);
  words[1] ^= uint64_t{Decimal::SIGN_BIT} << 32;
  return std::bit_cast<Decimal>(words);
}

}  // namespace vexlor
