// The JSON reader: a strict one-pass parser that builds the program while it
// reads, so every error is found at the first byte that cannot belong to a
// valid program. Error offsets follow two rules: a syntax error found while
// looking at a byte is placed just after that byte; an error about a value
// already read is placed just after it.

#include <cassert>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>

#include "compiler/compiler.hpp"
#include "compiler/json_text.hpp"

namespace vexlor {
namespace {

using json_text::append_quoted;
using json_text::append_utf8;
using json_text::describe_float;
using json_text::describe_integer;
using json_text::hex_value;
using json_text::shortest_fixed;
using json_text::valid_utf8;

constexpr std::string_view DECIMAL_EXPECTED = "a Decimal type representing a fixed-point number";
constexpr std::string_view CALL_EXPECTED = "tuple variant OpCode::Call";
constexpr int MAX_NESTING = 128;

constexpr std::string_view EOF_VALUE = "EOF while parsing a value";
constexpr std::string_view EOF_LIST = "EOF while parsing a list";
constexpr std::string_view EOF_OBJECT = "EOF while parsing an object";
constexpr std::string_view EOF_STRING = "EOF while parsing a string";
constexpr std::string_view EXPECTED_VALUE = "expected value";
constexpr std::string_view EXPECTED_COMMA_OR_END = "expected `,` or `]`";
constexpr std::string_view EXPECTED_COLON = "expected `:`";
constexpr std::string_view EXPECTED_IDENT = "expected ident";
constexpr std::string_view TRAILING_COMMA = "trailing comma";
constexpr std::string_view TRAILING_CHARACTERS = "trailing characters";
constexpr std::string_view INVALID_NUMBER = "invalid number";
constexpr std::string_view NUMBER_OUT_OF_RANGE = "number out of range";
constexpr std::string_view INVALID_ESCAPE = "invalid escape";
constexpr std::string_view INVALID_CODE_POINT = "invalid unicode code point";
constexpr std::string_view LONE_SURROGATE = "lone leading surrogate in hex escape";
constexpr std::string_view END_OF_HEX_ESCAPE = "unexpected end of hex escape";
constexpr std::string_view CONTROL_CHARACTER = "control character (\\u0000-\\u001F) found while parsing a string";
constexpr std::string_view RECURSION_LIMIT = "recursion limit exceeded";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A JSON number as the grammar classifies it: a non-negative integer that fits
// 64 bits, a negative one that fits a signed 64-bit integer, or else a double
// (fractions, exponents, "-0" and integers beyond those bounds).
struct Number {
  enum class Kind : uint8_t { Unsigned, Signed, Float };
  Kind kind = Kind::Unsigned;
  uint64_t u = 0;  // Unsigned
  int64_t s = 0;   // Signed
  double f = 0;    // Float
};

int op_index(std::string_view name) {
  for (size_t k = 0; k < OP_KIND_COUNT; ++k) {
    if (OP_NAMES[k] == name) return static_cast<int>(k);
  }
  return -1;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : p_(text.data()), n_(text.size()) {}

  Expected<Program, std::string> read() {
    Program program;
    if (!read_program(program)) return unexpected(error_text());
    return program;
  }

 private:
  // ------------------------------------------------------------ errors

  bool fail_at(size_t offset, std::string message) {
    message_ = std::move(message);
    error_offset_ = offset;
    return false;
  }
  bool fail_here(std::string_view message) { return fail_at(i_, std::string(message)); }
  bool fail_peek(std::string_view message) { return fail_at(i_ + 1 < n_ ? i_ + 1 : n_, std::string(message)); }

  bool fail_invalid_type(size_t offset, std::string_view unexpected, std::string_view expected) {
    std::string m = "invalid type: ";
    m += unexpected;
    m += ", expected ";
    m += expected;
    return fail_at(offset, std::move(m));
  }
  bool fail_invalid_value(std::string_view unexpected, std::string_view expected) {
    std::string m = "invalid value: ";
    m += unexpected;
    m += ", expected ";
    m += expected;
    return fail_at(i_, std::move(m));
  }

  std::string error_text() const {
    size_t line = 1;
    size_t line_start = 0;
    for (size_t k = 0; k < error_offset_; ++k) {
      if (p_[k] == '\n') {
        ++line;
        line_start = k + 1;
      }
    }
    std::string out = message_;
    out += " at line ";
    out += std::to_string(line);
    out += " column ";
    out += std::to_string(error_offset_ - line_start);
    return out;
  }

  // ------------------------------------------------------------ lexing

  // Skips white space; the next byte, or -1 at the end of the text.
  int peek_ws() {
    while (i_ < n_) {
      const char c = p_[i_];
      if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return static_cast<unsigned char>(c);
      ++i_;
    }
    return -1;
  }

  bool enter() {
    if (--remaining_depth_ == 0) return fail_peek(RECURSION_LIMIT);
    return true;
  }
  void leave() { ++remaining_depth_; }

  // The rest of a literal whose first byte has been consumed.
  bool read_ident(std::string_view rest) {
    for (char expected : rest) {
      if (i_ >= n_) return fail_here(EOF_VALUE);
      if (p_[i_++] != expected) return fail_here(EXPECTED_IDENT);
    }
    return true;
  }

  // A number; the "-" of a negative one has been consumed.
  bool read_number(bool negative, Number& out) {
    const size_t start = negative ? i_ - 1 : i_;
    if (i_ >= n_) return fail_here(EOF_VALUE);
    const char first = p_[i_++];
    uint64_t significand = 0;
    bool long_integer = false;  // more digits than 64 bits hold
    bool nonzero = false;       // a non-zero digit anywhere before the exponent
    if (first == '0') {
      if (i_ < n_ && is_digit(p_[i_])) return fail_peek(INVALID_NUMBER);
    } else if (first >= '1' && first <= '9') {
      significand = static_cast<uint64_t>(first - '0');
      nonzero = true;
      while (i_ < n_ && is_digit(p_[i_])) {
        const auto digit = static_cast<uint64_t>(p_[i_] - '0');
        if (!long_integer && significand > (UINT64_MAX - digit) / 10) long_integer = true;
        if (!long_integer) significand = significand * 10 + digit;
        ++i_;
      }
    } else {
      return fail_here(INVALID_NUMBER);
    }

    bool is_float = false;
    if (i_ < n_ && p_[i_] == '.') {
      is_float = true;
      ++i_;
      const size_t digits_start = i_;
      while (i_ < n_ && is_digit(p_[i_])) {
        nonzero |= p_[i_] != '0';
        ++i_;
      }
      if (i_ == digits_start) return fail_peek(i_ < n_ ? INVALID_NUMBER : EOF_VALUE);
    }
    if (i_ < n_ && (p_[i_] == 'e' || p_[i_] == 'E')) {
      is_float = true;
      ++i_;
      bool positive_exponent = true;
      if (i_ < n_ && (p_[i_] == '+' || p_[i_] == '-')) positive_exponent = p_[i_++] == '+';
      if (i_ >= n_) return fail_here(EOF_VALUE);
      if (!is_digit(p_[i_++])) return fail_here(INVALID_NUMBER);
      int32_t exponent = p_[i_ - 1] - '0';
      while (i_ < n_ && is_digit(p_[i_])) {
        const int32_t digit = p_[i_++] - '0';
        if (exponent > (INT32_MAX - digit) / 10) {
          // An exponent beyond 32 bits: infinite (an error) or zero.
          if (nonzero && positive_exponent) return fail_here(NUMBER_OUT_OF_RANGE);
          while (i_ < n_ && is_digit(p_[i_])) ++i_;
          out.kind = Number::Kind::Float;
          out.f = negative ? -0.0 : 0.0;
          return true;
        }
        exponent = exponent * 10 + digit;
      }
    }

    if (!is_float && !long_integer) {
      if (!negative) {
        out.kind = Number::Kind::Unsigned;
        out.u = significand;
        return true;
      }
      if (significand != 0 && significand <= (uint64_t{1} << 63)) {
        out.kind = Number::Kind::Signed;
        out.s = static_cast<int64_t>(0 - significand);
        return true;
      }
    }
    out.kind = Number::Kind::Float;
    const auto r = std::from_chars(p_ + start, p_ + i_, out.f);
    if (r.ec == std::errc::result_out_of_range) {
      if (overflows(start + (negative ? 1 : 0))) return fail_here(NUMBER_OUT_OF_RANGE);
      out.f = negative ? -0.0 : 0.0;
    } else if (r.ec != std::errc() || r.ptr != p_ + i_) {
      return fail_here(INVALID_NUMBER);  // not reached: the text was checked above
    }
    return true;
  }

  // True when [start, i_) is an integer literal (no fraction, no exponent).
  bool is_long_integer(size_t start) const {
    const size_t digits = start + (p_[start] == '-' ? 1 : 0);
    for (size_t k = digits; k < i_; ++k) {
      if (!is_digit(p_[k])) return false;
    }
    return true;
  }

  // For a number in [digits, i_) outside the range of a double: true when it is
  // too large (rather than too small). Its decimal exponent decides.
  bool overflows(size_t digits) const {
    int64_t int_digits = 0, frac_zeros = 0, exponent = 0;
    size_t k = digits;
    while (k < i_ && p_[k] == '0') ++k;
    while (k < i_ && is_digit(p_[k])) ++int_digits, ++k;
    if (k < i_ && p_[k] == '.') {
      ++k;
      if (int_digits == 0) {
        while (k < i_ && p_[k] == '0') ++frac_zeros, ++k;
      }
      while (k < i_ && is_digit(p_[k])) ++k;
    }
    if (k < i_) {  // exponent
      ++k;
      bool neg = false;
      if (p_[k] == '+' || p_[k] == '-') neg = p_[k++] == '-';
      while (k < i_) exponent = exponent * 10 + (p_[k++] - '0');
      if (neg) exponent = -exponent;
    }
    const int64_t magnitude = int_digits > 0 ? exponent + int_digits - 1 : exponent - frac_zeros - 1;
    return magnitude > 0;
  }

  // A string whose opening quote has been consumed. The view points into the
  // text, or into the scratch buffer when the string has escapes; it is valid
  // until the next string is read.
  bool read_string(std::string_view& out) {
    size_t start = i_;
    bool escaped = false;
    unsigned char high = 0;
    for (;;) {
      while (i_ < n_) {
        const auto c = static_cast<unsigned char>(p_[i_]);
        if (c == '"' || c == '\\' || c < 0x20) break;
        high |= c;
        ++i_;
      }
      if (i_ >= n_) return fail_here(EOF_STRING);
      const char c = p_[i_];
      if (c == '"') {
        if (escaped) {
          scratch_.append(p_ + start, i_ - start);
          out = scratch_;
        } else {
          out = std::string_view(p_ + start, i_ - start);
        }
        ++i_;
        if ((high & 0x80) != 0 && !valid_utf8(out)) return fail_here(INVALID_CODE_POINT);
        return true;
      }
      if (c == '\\') {
        if (!escaped) {
          scratch_.clear();
          escaped = true;
        }
        scratch_.append(p_ + start, i_ - start);
        ++i_;
        if (!read_escape()) return false;
        start = i_;
        continue;
      }
      ++i_;  // a control byte
      return fail_here(CONTROL_CHARACTER);
    }
  }

  bool read_escape() {
    if (i_ >= n_) return fail_here(EOF_STRING);
    switch (p_[i_++]) {
      case '"': scratch_.push_back('"'); return true;
      case '\\': scratch_.push_back('\\'); return true;
      case '/': scratch_.push_back('/'); return true;
      case 'b': scratch_.push_back('\b'); return true;
      case 'f': scratch_.push_back('\f'); return true;
      case 'n': scratch_.push_back('\n'); return true;
      case 'r': scratch_.push_back('\r'); return true;
      case 't': scratch_.push_back('\t'); return true;
      case 'u': return read_unicode_escape();
      default: return fail_here(INVALID_ESCAPE);
    }
  }

  bool read_hex4(uint32_t& out) {
    if (n_ - i_ < 4) {
      i_ = n_;
      return fail_here(EOF_STRING);
    }
    out = 0;
    bool ok = true;
    for (int k = 0; k < 4; ++k) {
      const int h = hex_value(p_[i_ + k]);
      ok &= h >= 0;
      out = (out << 4) | static_cast<uint32_t>(h & 0xF);
    }
    i_ += 4;
    return ok || fail_here(INVALID_ESCAPE);
  }

  bool read_unicode_escape() {
    uint32_t first = 0;
    if (!read_hex4(first)) return false;
    if (first >= 0xDC00 && first <= 0xDFFF) return fail_here(LONE_SURROGATE);
    if (first < 0xD800 || first > 0xDBFF) {
      append_utf8(scratch_, first);
      return true;
    }
    // A leading surrogate: a trailing one must follow as a second escape.
    for (char expected : {'\\', 'u'}) {
      if (i_ >= n_) return fail_here(EOF_STRING);
      if (p_[i_++] != expected) return fail_here(END_OF_HEX_ESCAPE);
    }
    uint32_t second = 0;
    if (!read_hex4(second)) return false;
    if (second < 0xDC00 || second > 0xDFFF) return fail_here(LONE_SURROGATE);
    append_utf8(scratch_, 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00));
    return true;
  }

  // ------------------------------------------------------------ typed values

  // The error for a value of the wrong type at the next byte: the value is read
  // (a literal, number or string) to describe it.
  bool fail_wrong_type(std::string_view expected) {
    const int c = peek_ws();
    switch (c) {
      case 'n':
        ++i_;
        return read_ident("ull") && fail_invalid_type(i_, "null", expected);
      case 't':
        ++i_;
        return read_ident("rue") && fail_invalid_type(i_, "boolean `true`", expected);
      case 'f':
        ++i_;
        return read_ident("alse") && fail_invalid_type(i_, "boolean `false`", expected);
      case '"': {
        ++i_;
        std::string_view s;
        if (!read_string(s)) return false;
        std::string unexpected = "string ";
        append_quoted(unexpected, s);
        return fail_invalid_type(i_, unexpected, expected);
      }
      case '[':
        return fail_invalid_type(i_, "sequence", expected);
      case '{':
        return fail_invalid_type(i_, "map", expected);
      default:
        break;
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
      if (c == '-') ++i_;
      Number num;
      if (!read_number(c == '-', num)) return false;
      return fail_invalid_type(i_, describe_number(num), expected);
    }
    return fail_peek(c < 0 ? EOF_VALUE : EXPECTED_VALUE);
  }

  static std::string describe_number(const Number& num) {
    switch (num.kind) {
      case Number::Kind::Unsigned: return describe_integer(num.u);
      case Number::Kind::Signed: return describe_integer(num.s);
      default: return "floating point `" + describe_float(num.f) + "`";
    }
  }

  // A JSON string where `expected` names what is required.
  bool read_string_value(std::string_view expected, std::string_view& out) {
    const int c = peek_ws();
    if (c < 0) return fail_peek(EOF_VALUE);
    if (c != '"') return fail_wrong_type(expected);
    ++i_;
    return read_string(out);
  }

  // The value of a variant without operands: null.
  bool read_unit() {
    const int c = peek_ws();
    if (c < 0) return fail_peek(EOF_VALUE);
    if (c != 'n') return fail_wrong_type("unit");
    ++i_;
    return read_ident("ull");
  }

  // A jump target or argument count.
  bool read_size(size_t& out) {
    const int c = peek_ws();
    if (c < 0) return fail_peek(EOF_VALUE);
    if (c != '-' && !(c >= '0' && c <= '9')) return fail_wrong_type("usize");
    if (c == '-') ++i_;
    Number num;
    if (!read_number(c == '-', num)) return false;
    switch (num.kind) {
      case Number::Kind::Unsigned:
        if (num.u > SIZE_MAX) return fail_invalid_value(describe_integer(num.u), "usize");
        out = static_cast<size_t>(num.u);
        return true;
      case Number::Kind::Signed:
        return fail_invalid_value(describe_integer(num.s), "usize");
      default:
        return fail_invalid_type(i_, describe_number(num), "usize");
    }
  }

  bool read_decimal(Decimal& out) {
    const int c = peek_ws();
    switch (c) {
      case -1:
        return fail_peek(EOF_VALUE);
      case '"': {
        ++i_;
        std::string_view s;
        if (!read_string(s)) return false;
        auto value = Decimal::from_str(s);
        if (!value.ok()) value = Decimal::from_scientific(s);
        if (value.ok()) {
          out = *value;
          return true;
        }
        std::string unexpected = "string ";
        append_quoted(unexpected, s);
        return fail_invalid_value(unexpected, DECIMAL_EXPECTED);
      }
      case '[':
      case '{':
        if (!enter()) return false;
        return fail_invalid_type(i_, c == '[' ? "sequence" : "map", DECIMAL_EXPECTED);
      default:
        break;
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
      const size_t start = i_;
      if (c == '-') ++i_;
      Number num;
      if (!read_number(c == '-', num)) return false;
      if (num.kind == Number::Kind::Float && is_long_integer(start)) {
        // An integer beyond 64 bits keeps every digit while a Decimal can hold it.
        auto exact = Decimal::from_str(std::string_view(p_ + start, i_ - start));
        if (exact.ok()) {
          out = *exact;
          return true;
        }
      }
      switch (num.kind) {
        case Number::Kind::Unsigned:
          out = Decimal::from_parts(num.u, 0, 0, false);
          return true;
        case Number::Kind::Signed:
          out = Decimal::from_parts(0 - static_cast<uint64_t>(num.s), 0, 0, true);
          return true;
        default: {
          char buf[512];
          auto value = Decimal::from_str(shortest_fixed(num.f, buf));
          if (value.ok()) {
            out = *value;
            return true;
          }
          return fail_invalid_value("floating point `" + describe_float(num.f) + "`", DECIMAL_EXPECTED);
        }
      }
    }
    if (c == 'n' || c == 't' || c == 'f') return fail_wrong_type(DECIMAL_EXPECTED);
    return fail_peek(EXPECTED_VALUE);
  }

  bool read_colon() {
    const int c = peek_ws();
    if (c == ':') {
      ++i_;
      return true;
    }
    return fail_peek(c < 0 ? EOF_OBJECT : EXPECTED_COLON);
  }

  // After the one member of an instruction or variable object: its "}".
  bool read_object_end() {
    const int c = peek_ws();
    if (c == '}') {
      ++i_;
      return true;
    }
    return fail_here(c < 0 ? EOF_OBJECT : EXPECTED_VALUE);
  }

  // At the "{" of an object whose one member names a variant: enters it and stops at
  // the opening quote of that name.
  bool open_variant_object() {
    if (!enter()) return false;
    ++i_;
    const int c = peek_ws();
    if (c < 0) return fail_peek(EOF_VALUE);
    if (c != '"') return fail_wrong_type("variant identifier");
    return true;
  }

  // A variable object: {"Name": text} or {"Uuid": UUID text}.
  bool read_varid(VarId& out) {
    static constexpr std::string_view KINDS_EXPECTED = "`Uuid` or `Name`";
    int c = peek_ws();
    if (c < 0) return fail_peek(EOF_VALUE);
    if (c != '"' && c != '{') return fail_peek(EXPECTED_VALUE);
    const bool object = c == '{';
    if (object && !open_variant_object()) return false;
    ++i_;
    std::string_view key;
    if (!read_string(key)) return false;
    const bool is_name = key == "Name";
    if (!is_name && key != "Uuid") {
      std::string m = "unknown variant `";
      m += key;
      m += "`, expected ";
      m += KINDS_EXPECTED;
      return fail_at(i_, std::move(m));
    }
    if (!object) return fail_invalid_type(i_, "unit variant", "newtype variant");
    if (!read_colon()) return false;
    std::string_view text;
    if (is_name) {
      if (!read_string_value("a string", text)) return false;
      out = VarId::name(text);
    } else {
      if (!read_string_value("a formatted UUID string", text)) return false;
      UuidBytes bytes;
      if (!try_parse_uuid(text, bytes)) {
        auto parsed = parse_uuid(text);
        if (!parsed.ok()) return fail_at(i_, "UUID parsing failed: " + parsed.error());
        bytes = *parsed;
      }
      out = VarId::uuid(bytes);
    }
    leave();
    return read_object_end();
  }

  // The value of Call: [name, argument count].
  bool read_call(OpCode& op) {
    static constexpr std::string_view LENGTH_EXPECTED = ", expected tuple variant OpCode::Call with 2 elements";
    int c = peek_ws();
    if (c < 0) return fail_peek(EOF_VALUE);
    if (c != '[') return fail_wrong_type(CALL_EXPECTED);
    if (!enter()) return false;
    ++i_;
    c = peek_ws();
    if (c == ']') {
      ++i_;
      return fail_at(i_, "invalid length 0" + std::string(LENGTH_EXPECTED));
    }
    if (c < 0) return fail_peek(EOF_LIST);
    std::string_view name_view;
    if (!read_string_value("a string", name_view)) return false;
    std::string name(name_view);
    c = peek_ws();
    if (c == ']') {
      ++i_;
      return fail_at(i_, "invalid length 1" + std::string(LENGTH_EXPECTED));
    }
    if (c < 0) return fail_peek(EOF_LIST);
    if (c != ',') return fail_peek(EXPECTED_COMMA_OR_END);
    ++i_;
    c = peek_ws();
    if (c < 0) return fail_peek(EOF_VALUE);
    if (c == ']') return fail_peek(TRAILING_COMMA);
    size_t count = 0;
    if (!read_size(count)) return false;
    leave();
    c = peek_ws();
    if (c == ']') {
      ++i_;
      op = OpCode::call(std::move(name), count);
      return true;
    }
    if (c < 0) return fail_peek(EOF_LIST);
    if (c == ',') {
      ++i_;
      return fail_peek(peek_ws() == ']' ? TRAILING_COMMA : TRAILING_CHARACTERS);
    }
    return fail_peek(TRAILING_CHARACTERS);
  }

  bool fail_unknown_variant(std::string_view name) {
    std::string m = "unknown variant `";
    m += name;
    m += "`, expected one of ";
    for (size_t k = 0; k < OP_KIND_COUNT; ++k) {
      if (k > 0) m += ", ";
      m += '`';
      m += OP_NAMES[k];
      m += '`';
    }
    return fail_at(i_, std::move(m));
  }

  bool read_instruction(OpCode& op) {
    int c = peek_ws();
    if (c < 0) return fail_peek(EOF_VALUE);
    if (c == '"') {
      ++i_;
      std::string_view name;
      if (!read_string(name)) return false;
      const int k = op_index(name);
      if (k < 0) return fail_unknown_variant(name);
      const auto kind = static_cast<OpKind>(k);
      if (op_has_no_operand(kind)) {
        op = OpCode(kind);
        return true;
      }
      return fail_invalid_type(i_, "unit variant", kind == OpKind::Call ? "tuple variant" : "newtype variant");
    }
    if (c != '{') return fail_peek(EXPECTED_VALUE);
    if (!open_variant_object()) return false;
    ++i_;
    std::string_view name;
    if (!read_string(name)) return false;
    const int k = op_index(name);
    if (k < 0) return fail_unknown_variant(name);
    if (!read_colon()) return false;
    const auto kind = static_cast<OpKind>(k);
    switch (kind) {
      case OpKind::PushConst: {
        Decimal value;
        if (!read_decimal(value)) return false;
        op = OpCode::push_const(value);
        break;
      }
      case OpKind::LoadVar: {
        VarId var;
        if (!read_varid(var)) return false;
        op = OpCode::load_var(std::move(var));
        break;
      }
      case OpKind::Jump:
      case OpKind::JumpIfFalse: {
        size_t target = 0;
        if (!read_size(target)) return false;
        op = kind == OpKind::Jump ? OpCode::jump(target) : OpCode::jump_if_false(target);
        break;
      }
      case OpKind::Call:
        if (!read_call(op)) return false;
        break;
      default:
        if (!read_unit()) return false;
        op = OpCode(kind);
    }
    leave();
    return read_object_end();
  }

  bool read_program(Program& program) {
    int c = peek_ws();
    if (c < 0) return fail_peek(EOF_VALUE);
    if (c != '[') return fail_wrong_type("a sequence");
    if (!enter()) return false;
    ++i_;
    program.reserve(n_ / 16 + 1);
    bool first = true;
    for (;;) {
      c = peek_ws();
      if (c == ']') break;
      if (c == ',' && !first) {
        ++i_;
        c = peek_ws();
        if (c < 0) return fail_peek(EOF_VALUE);
        if (c == ']') return fail_peek(TRAILING_COMMA);
      } else if (c < 0) {
        return fail_peek(EOF_LIST);
      } else if (!first) {
        return fail_peek(EXPECTED_COMMA_OR_END);
      }
      first = false;
      program.emplace_back();
      if (!read_instruction(program.back())) return false;
    }
    ++i_;
    leave();
    if (peek_ws() >= 0) return fail_peek(TRAILING_CHARACTERS);
    return true;
  }

  const char* p_;
  size_t n_;
  size_t i_ = 0;
  int remaining_depth_ = MAX_NESTING;
  std::string scratch_;
  std::string message_;
  size_t error_offset_ = 0;
};

}  // namespace

Expected<Program, std::string> read_json(std::string_view text) { return Reader(text).read(); }

}  // namespace vexlor
