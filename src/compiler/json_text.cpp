// Text helpers of the JSON reader: UTF-8, quoting and number printing.

#include "compiler/json_text.hpp"

#include <cassert>
#include <charconv>
#include <system_error>

namespace vexlor::json_text {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool valid_utf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (n - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    i += len;
  }
  return true;
}

// A string shown in a message: in double quotes, with quotes, backslashes and
// control characters escaped.
void append_quoted(std::string& out, std::string_view s) {
  static constexpr char HEX[] = "0123456789abcdef";
  out.push_back('"');
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u{";
          if (c >= 0x10) out.push_back(HEX[c >> 4]);
          out.push_back(HEX[c & 0xF]);
          out.push_back('}');
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
}

// The shortest text that reads back as `value`, in plain positional notation:
// the shortest digits, padded with zeros (1.8446744073709552e19 prints as
// 18446744073709552000).
std::string_view shortest_fixed(double value, char (&buf)[512]) {
  char sci[32];
  const auto r = std::to_chars(sci, sci + sizeof sci, value, std::chars_format::scientific);
  assert(r.ec == std::errc());
  const char* p = sci;
  char* out = buf;
  if (*p == '-') *out++ = *p++;
  char digits[20];
  size_t count = 0;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits[count++] = *p;
  }
  int exponent = 0;
  std::from_chars(p + 1 + (p[1] == '+'), r.ptr, exponent);
  if (digits[0] == '0') {
    *out++ = '0';
  } else if (exponent >= 0) {
    const auto int_digits = static_cast<size_t>(exponent) + 1;
    for (size_t k = 0; k < int_digits; ++k) *out++ = k < count ? digits[k] : '0';
    if (count > int_digits) {
      *out++ = '.';
      for (size_t k = int_digits; k < count; ++k) *out++ = digits[k];
    }
  } else {
    *out++ = '0';
    *out++ = '.';
    for (int k = -1; k > exponent; --k) *out++ = '0';
    for (size_t k = 0; k < count; ++k) *out++ = digits[k];
  }
  return {buf, static_cast<size_t>(out - buf)};
}

std::string describe_float(double value) {
  char buf[512];
  std::string text(shortest_fixed(value, buf));
  if (text.find('.') == std::string::npos) text += ".0";
  return text;
}

std::string describe_integer_text(std::string_view digits) {
  std::string out = "integer `";
  out += digits;
  out.push_back('`');
  return out;
}

}  // namespace vexlor::json_text
