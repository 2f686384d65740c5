// The lexer: a hand-written scanner for the 26 terminals and whitespace.
// At each offset it measures how far every pattern that can start there
// matches, then takes the longest match, and of equally long ones the pattern
// with the highest terminal index (whitespace counts as index 26). The common
// cases, which ASCII bytes alone decide, are settled first by the scanner of
// lexer_fast.hpp; the full search handles the rest.

#include <algorithm>
#include <array>
#include <utility>

#include "parser/lexer_fast.hpp"
#include "parser/parser.hpp"
#include "parser/unicode.hpp"

namespace vexlor {
namespace {

using namespace lexing;

constexpr std::string_view DISPLAY[TERMINAL_COUNT] = {
    R"x(r#"-?\\d+(\\.\\d+)?([eE][+-]?\\d+)?"#)x",
    R"x(r#"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"#)x",
    R"x(r#"[a-zA-Z_][a-zA-Z0-9_]*"#)x",
    "\"!=\"", "\"%\"", "\"(\"", "\")\"", "\"*\"", "\"+\"", "\",\"", "\"-\"", "\"/\"",
    "\"//\"", "\":\"", "\"<\"", "\"<=\"", "\"==\"", "\">\"", "\">=\"", "\"?\"", "\"^\"",
    "\"and\"", "\"not\"", "\"or\"", "\"{\"", "\"}\"",
};

// Length in bytes of the Nd digit at `pos`, or 0.
size_t digit_length(std::string_view text, size_t pos) {
  if (pos >= text.size()) return 0;
  unsigned char c = static_cast<unsigned char>(text[pos]);
  if (c < 0x80) return is_ascii_digit(static_cast<char>(c)) ? 1 : 0;
  char32_t cp = 0;
  size_t len = decode_utf8(text, pos, cp);
  return len != 0 && is_decimal_digit(cp) ? len : 0;
}

size_t skip_digits(std::string_view text, size_t pos) {
  while (size_t len = digit_length(text, pos)) pos += len;
  return pos;
}

// -?D+(\.D+)?([eE][+-]?D+)?  with D any Nd digit.
size_t match_number(std::string_view text, size_t start) {
  size_t pos = start;
  if (pos < text.size() && text[pos] == '-') ++pos;
  if (digit_length(text, pos) == 0) return 0;
  pos = skip_digits(text, pos);
  if (pos < text.size() && text[pos] == '.' && digit_length(text, pos + 1) != 0) {
    pos = skip_digits(text, pos + 1);
  }
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    size_t exp = pos + 1;
    if (exp < text.size() && (text[exp] == '+' || text[exp] == '-')) ++exp;
    if (digit_length(text, exp) != 0) pos = skip_digits(text, exp);
  }
  return pos - start;
}

size_t match_uuid(std::string_view text, size_t start) {
  if (text.size() - start < UUID_LENGTH) return 0;
  for (size_t i = 0; i < UUID_LENGTH; ++i) {
    char c = text[start + i];
    bool hyphen_place = i == 8 || i == 13 || i == 18 || i == 23;
    if (hyphen_place ? c != '-' : !is_lower_hex(c)) return 0;
  }
  return UUID_LENGTH;
}

size_t match_ident(std::string_view text, size_t start) {
  if (!is_ident_start(text[start])) return 0;
  size_t pos = start + 1;
  while (pos < text.size() && is_ident_continue(text[pos])) ++pos;
  return pos - start;
}

// The whitespace run at `start`, in bytes (0 if none).
size_t match_whitespace(std::string_view text, size_t start) {
  size_t pos = start;
  while (pos < text.size()) {
    unsigned char c = static_cast<unsigned char>(text[pos]);
    if (c < 0x80) {
      if (!is_ascii_space(static_cast<char>(c))) break;
      ++pos;
      continue;
    }
    char32_t cp = 0;
    size_t len = decode_utf8(text, pos, cp);
    if (len == 0 || !is_white_space(cp)) break;
    pos += len;
  }
  return pos - start;
}

// Offers a pattern's match; patterns are offered in increasing index order,
// so an equally long later one replaces the earlier.
void offer(Match& best, size_t length, unsigned index) {
  if (length != 0 && length >= best.length) best = {length, index};
}

// The longest match at `start` (length 0: nothing matches).
Match longest_match(std::string_view text, size_t start) {
  Match best;
  char c = text[start];
  if (is_ascii_space(c) || static_cast<unsigned char>(c) >= 0x80) {
    // Non-ASCII characters start only digits (NUMBER) or whitespace.
    offer(best, match_number(text, start), static_cast<unsigned>(Terminal::Number));
    offer(best, match_whitespace(text, start), static_cast<unsigned>(TERMINAL_COUNT));
    return best;
  }
  if (is_ascii_digit(c) || c == '-') offer(best, match_number(text, start), static_cast<unsigned>(Terminal::Number));
  if (is_lower_hex(c)) offer(best, match_uuid(text, start), static_cast<unsigned>(Terminal::Uuid));
  if (is_ident_start(c)) {
    size_t length = match_ident(text, start);
    offer(best, length, static_cast<unsigned>(Terminal::Ident));
    if (unsigned keyword = keyword_index(text.substr(start, length))) offer(best, length, keyword);
  }
  Match op = match_operator(text, start);
  offer(best, op.length, op.index);
  return best;
}

}  // namespace

std::string_view terminal_display(Terminal terminal) { return DISPLAY[static_cast<size_t>(terminal)]; }

LexStep Lexer::next() {
  const char* const p = text_.data();
  const size_t n = text_.size();
  size_t pos = pos_;
  while (pos < n && char_class(p[pos]) == Space) ++pos;
  LexStep step;
  if (pos == n) {
    pos_ = pos;
    return step;
  }
  Match m;
  if (!quick_match(text_, pos, m)) return next_slow(pos);
  step.kind = LexStep::Kind::Token;
  step.token.start = pos;
  step.token.terminal = static_cast<Terminal>(m.index);
  step.token.text = std::string_view(p + pos, m.length);
  pos += m.length;
  step.token.end = pos;
  pos_ = pos;
  return step;
}

[[gnu::noinline]] LexStep Lexer::next_slow(size_t pos) {
  LexStep step;
  while (pos < text_.size()) {
    Match m;
    if (!quick_match(text_, pos, m)) {
      m = longest_match(text_, pos);
      if (m.length == 0) {
        step.kind = LexStep::Kind::InvalidToken;
        step.offset = pos;
        break;
      }
      if (m.index == TERMINAL_COUNT) {  // whitespace
        pos += m.length;
        continue;
      }
    }
    step.kind = LexStep::Kind::Token;
    step.token = Token{pos, static_cast<Terminal>(m.index), text_.substr(pos, m.length), pos + m.length};
    pos += m.length;
    break;
  }
  pos_ = pos;
  return step;
}

}  // namespace vexlor
