#include "parser/unicode.hpp"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace vexlor {
namespace {

struct CodeRange {
  char32_t first;
  char32_t last;
};

#include "parser/unicode_tables.inc"

template <size_t N>
bool in_ranges(const CodeRange (&ranges)[N], char32_t cp) {
  auto after = std::upper_bound(std::begin(ranges), std::end(ranges), cp,
                                [](char32_t value, const CodeRange& r) { return value < r.first; });
  return after != std::begin(ranges) && cp <= std::prev(after)->last;
}

}  // namespace

size_t decode_utf8(std::string_view text, size_t pos, char32_t& cp) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  unsigned char lead = byte(0);
  size_t length;
  char32_t min;
  if (lead < 0x80) {
    cp = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - pos < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

bool is_decimal_digit(char32_t cp) { return in_ranges(ND_RANGES, cp); }
bool is_white_space(char32_t cp) { return in_ranges(WHITE_SPACE_RANGES, cp); }

}  // namespace vexlor
