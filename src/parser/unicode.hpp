#pragma once
// Character classes of the lexer (Unicode 16.0) and UTF-8 decoding.

#include <cstddef>
#include <string_view>

namespace vexlor {

// Decodes the UTF-8 character at `pos` into `cp` and returns its length in
// bytes; returns 0 for a malformed or truncated sequence (overlong forms,
// surrogates and values above U+10FFFF included).
size_t decode_utf8(std::string_view text, size_t pos, char32_t& cp);

bool is_decimal_digit(char32_t cp);  // general category Nd
bool is_white_space(char32_t cp);    // property White_Space

}  // namespace vexlor
