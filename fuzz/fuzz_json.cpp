// Fuzzes the bytecode JSON reader on arbitrary bytes. Every failure must be one
// of the reader's messages followed by a position that exists in the input;
// every success must write back to a text that reads as the same program and
// writes back to itself.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "compiler/compiler.hpp"

namespace {

[[noreturn]] void fail(const char* what, std::string_view text, std::string_view detail) {
  std::fprintf(stderr, "invariant violated: %s\ninput (%zu bytes): %.*s\ndetail: %.*s\n", what, text.size(),
               static_cast<int>(std::min<size_t>(text.size(), 300)), text.data(),
               static_cast<int>(std::min<size_t>(detail.size(), 600)), detail.data());
  std::abort();
}

constexpr std::string_view EXACT[] = {
    "EOF while parsing a value",
    "EOF while parsing a list",
    "EOF while parsing an object",
    "EOF while parsing a string",
    "expected value",
    "expected `,` or `]`",
    "expected `:`",
    "expected ident",
    "trailing comma",
    "trailing characters",
    "invalid number",
    "number out of range",
    "invalid escape",
    "invalid unicode code point",
    "lone leading surrogate in hex escape",
    "unexpected end of hex escape",
    "control character (\\u0000-\\u001F) found while parsing a string",
    "recursion limit exceeded",
};

constexpr std::string_view EXPECTED_NAMES[] = {
    "a sequence", "variant identifier", "unit", "newtype variant", "tuple variant", "tuple variant OpCode::Call",
    "a string", "a formatted UUID string", "usize", "a Decimal type representing a fixed-point number",
};

constexpr std::string_view UUID_REASONS[] = {
    "invalid character: found `", "invalid length: expected length 32 for simple format, found ",
    "invalid group count: expected 5, found ", "invalid group length in group ", "failed to parse a UUID",
};

bool starts(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }
bool ends(std::string_view s, std::string_view p) { return s.size() >= p.size() && s.substr(s.size() - p.size()) == p; }

bool known_message(std::string_view m) {
  for (std::string_view e : EXACT) {
    if (m == e) return true;
  }
  if (starts(m, "invalid type: ") || starts(m, "invalid value: ")) {
    for (std::string_view e : EXPECTED_NAMES) {
      if (ends(m, std::string(", expected ") + std::string(e))) return true;
    }
    return false;
  }
  if (starts(m, "invalid length ")) {
    return m == "invalid length 0, expected tuple variant OpCode::Call with 2 elements" ||
           m == "invalid length 1, expected tuple variant OpCode::Call with 2 elements";
  }
  if (starts(m, "unknown variant `")) {
    return ends(m, "`, expected `Uuid` or `Name`") || ends(m, "`Jump`, `JumpIfFalse`, `Call`");
  }
  if (starts(m, "UUID parsing failed: ")) {
    const std::string_view reason = m.substr(21);
    for (std::string_view r : UUID_REASONS) {
      if (starts(reason, r)) return true;
    }
  }
  return false;
}

// " at line L column C" must name an offset within the text.
bool valid_position(std::string_view text, std::string_view suffix) {
  size_t line = 0, column = 0;
  if (std::sscanf(std::string(suffix).c_str(), " at line %zu column %zu", &line, &column) != 2) return false;
  if (line == 0) return false;
  size_t line_start = 0;
  for (size_t l = 1; l < line; ++l) {
    const size_t nl = text.find('\n', line_start);
    if (nl == std::string_view::npos) return false;
    line_start = nl + 1;
  }
  if (line_start + column > text.size()) return false;
  return text.substr(line_start, column).find('\n') == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto program = vexlor::read_json(text);
  if (!program.ok()) {
    const std::string& error = program.error();
    const size_t at = error.rfind(" at line ");
    if (at == std::string::npos) fail("error without a position", text, error);
    if (!known_message(std::string_view(error).substr(0, at))) fail("unknown message", text, error);
    if (!valid_position(text, std::string_view(error).substr(at))) fail("position outside the text", text, error);
    return 0;
  }
  const std::string written = vexlor::write_json(*program);
  auto again = vexlor::read_json(written);
  if (!again.ok()) fail("written text does not read back", text, again.error());
  if (!vexlor::programs_equal(*program, *again)) fail("written text reads as another program", text, written);
  if (vexlor::write_json(*again) != written) fail("writing is not stable", text, written);
  return 0;
}
