#pragma once
// Text helpers of the JSON reader (internal to the compiler module).

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace vexlor::json_text {

// The value of a hexadecimal digit, or -1.
int hex_value(char c);

// Appends the UTF-8 encoding of a code point (at most 0x10FFFF, no surrogate).
void append_utf8(std::string& out, uint32_t cp);

// True for well-formed UTF-8 (no overlong forms, surrogates or values above 0x10FFFF).
bool valid_utf8(std::string_view s);

// Appends a string as messages show it: in double quotes, with quotes,
// backslashes and control characters escaped.
void append_quoted(std::string& out, std::string_view s);

// The shortest text that reads back as `value`, in plain positional notation.
std::string_view shortest_fixed(double value, char (&buf)[512]);

// A double as messages show it: shortest_fixed, with ".0" when it has no point.
std::string describe_float(double value);

// "integer `N`".
std::string describe_integer_text(std::string_view digits);

template <class Int>
std::string describe_integer(Int value) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return describe_integer_text(std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
}

}  // namespace vexlor::json_text
