#pragma once
// The lexer's common cases, shared by the lexer and the parse driver (which
// scans tokens inline): identifiers and keywords, numbers of ASCII digits and
// the operators, decided from ASCII bytes alone. Everything else goes through
// Lexer::next(), which tries all patterns.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "parser/parser.hpp"

namespace vexlor::lexing {

constexpr bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_ident_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
constexpr bool is_ident_continue(char c) { return is_ident_start(c) || is_ascii_digit(c); }
constexpr bool is_lower_hex(char c) { return is_ascii_digit(c) || (c >= 'a' && c <= 'f'); }
constexpr bool is_ascii_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

inline constexpr size_t UUID_LENGTH = 36;

struct Match {
  size_t length = 0;
  unsigned index = 0;  // terminal index, or TERMINAL_COUNT for whitespace
};

inline unsigned keyword_index(std::string_view word) {
  if (word == "and") return static_cast<unsigned>(Terminal::And);
  if (word == "not") return static_cast<unsigned>(Terminal::Not);
  if (word == "or") return static_cast<unsigned>(Terminal::Or);
  return 0;
}

// The fixed operators and punctuation starting at `start`.
inline Match match_operator(std::string_view text, size_t start) {
  auto two = [&](char second, Terminal pair, Terminal single) -> Match {
    if (start + 1 < text.size() && text[start + 1] == second) return {2, static_cast<unsigned>(pair)};
    return {1, static_cast<unsigned>(single)};
  };
  auto one = [](Terminal t) -> Match { return {1, static_cast<unsigned>(t)}; };
  switch (text[start]) {
    case '!': return start + 1 < text.size() && text[start + 1] == '=' ? Match{2, 3} : Match{};
    case '=': return start + 1 < text.size() && text[start + 1] == '=' ? Match{2, 16} : Match{};
    case '%': return one(Terminal::Percent);
    case '(': return one(Terminal::LParen);
    case ')': return one(Terminal::RParen);
    case '*': return one(Terminal::Star);
    case '+': return one(Terminal::Plus);
    case ',': return one(Terminal::Comma);
    case '-': return one(Terminal::Minus);
    case '/': return two('/', Terminal::SlashSlash, Terminal::Slash);
    case ':': return one(Terminal::Colon);
    case '<': return two('=', Terminal::LessEqual, Terminal::Less);
    case '>': return two('=', Terminal::GreaterEqual, Terminal::Greater);
    case '?': return one(Terminal::Question);
    case '^': return one(Terminal::Caret);
    case '{': return one(Terminal::LBrace);
    case '}': return one(Terminal::RBrace);
    default: return {};
  }
}

// Classes of ASCII bytes for the common cases; every byte of 0x80 and above is
// Other, as are the characters that start no token.
enum CharClass : uint8_t { Other, Space, Letter, HexLetter, Digit, Minus, Operator };

constexpr std::array<CharClass, 256> make_char_classes() {
  std::array<CharClass, 256> classes{};
  for (int c = 0; c < 128; ++c) {
    const char ch = static_cast<char>(c);
    if (is_ascii_space(ch)) classes[c] = Space;
    else if (ch >= 'a' && ch <= 'f') classes[c] = HexLetter;
    else if (is_ident_start(ch)) classes[c] = Letter;
    else if (is_ascii_digit(ch)) classes[c] = Digit;
    else if (ch == '-') classes[c] = Minus;
    else if (std::string_view("!%()*+,/:<=>?^{}").find(ch) != std::string_view::npos) classes[c] = Operator;
  }
  return classes;
}
inline constexpr std::array<CharClass, 256> CHAR_CLASSES = make_char_classes();

constexpr std::array<bool, 256> make_ident_continue() {
  std::array<bool, 256> table{};
  for (int c = 0; c < 128; ++c) table[c] = is_ident_continue(static_cast<char>(c));
  return table;
}
inline constexpr std::array<bool, 256> IDENT_CONTINUE = make_ident_continue();

// The terminal of each operator of one character that is no prefix of another.
constexpr std::array<unsigned, 256> make_single_operators() {
  std::array<unsigned, 256> table{};
  constexpr std::pair<char, Terminal> SINGLES[] = {
      {'%', Terminal::Percent}, {'(', Terminal::LParen},   {')', Terminal::RParen}, {'*', Terminal::Star},
      {'+', Terminal::Plus},    {',', Terminal::Comma},    {':', Terminal::Colon},  {'?', Terminal::Question},
      {'^', Terminal::Caret},   {'{', Terminal::LBrace},   {'}', Terminal::RBrace},
  };
  for (const auto& [c, terminal] : SINGLES) table[static_cast<unsigned char>(c)] = static_cast<unsigned>(terminal);
  return table;
}
inline constexpr std::array<unsigned, 256> SINGLE_OPERATORS = make_single_operators();

inline CharClass char_class(char c) { return CHAR_CLASSES[static_cast<unsigned char>(c)]; }
inline bool digit_at(const char* p, size_t pos, size_t n) { return pos < n && is_ascii_digit(p[pos]); }

// The common cases, decided from ASCII bytes alone: identifiers and keywords,
// numbers of ASCII digits, and the operators. Returns false where only the full
// longest-match search can decide (non-ASCII bytes, a possible UUID, a number
// that may go on with non-ASCII digits, characters that match nothing).
[[gnu::always_inline]] inline bool quick_match(std::string_view text, size_t start, Match& m) {
  const char* p = text.data();
  const size_t n = text.size();
  // A UUID needs a hyphen 8 bytes on, and 36 bytes in all.
  auto maybe_uuid = [&] { return n - start >= UUID_LENGTH && p[start + 8] == '-'; };
  size_t pos = start;
  switch (char_class(p[start])) {
    case HexLetter:
      if (maybe_uuid()) return false;
      [[fallthrough]];
    case Letter: {
      ++pos;
      while (pos < n && IDENT_CONTINUE[static_cast<unsigned char>(p[pos])]) ++pos;
      const size_t length = pos - start;
      unsigned index = static_cast<unsigned>(Terminal::Ident);
      if (length <= 3) {
        if (unsigned keyword = keyword_index(text.substr(start, length))) index = keyword;
      }
      m = {length, index};
      return true;
    }
    case Operator: {
      const char next = start + 1 < n ? p[start + 1] : '\0';
      auto pair = [&](char second, Terminal two, Terminal one) {
        m = next == second ? Match{2, static_cast<unsigned>(two)} : Match{1, static_cast<unsigned>(one)};
        return true;
      };
      switch (p[start]) {
        case '/': return pair('/', Terminal::SlashSlash, Terminal::Slash);
        case '<': return pair('=', Terminal::LessEqual, Terminal::Less);
        case '>': return pair('=', Terminal::GreaterEqual, Terminal::Greater);
        case '!':
        case '=':
          m = match_operator(text, start);
          return m.length != 0;
        default:
          m = {1, SINGLE_OPERATORS[static_cast<unsigned char>(p[start])]};
          return true;
      }
    }
    case Minus:
      if (pos + 1 < n && static_cast<unsigned char>(p[pos + 1]) >= 0x80) return false;  // maybe a non-ASCII digit
      if (!digit_at(p, pos + 1, n)) {
        m = {1, static_cast<unsigned>(Terminal::Minus)};
        return true;
      }
      ++pos;
      break;
    case Digit:
      if (maybe_uuid()) return false;
      break;
    default:
      return false;
  }
  // -?D+(\.D+)?([eE][+-]?D+)? over ASCII digits.
  while (digit_at(p, pos, n)) ++pos;
  if (pos < n && p[pos] == '.' && digit_at(p, pos + 1, n)) {
    pos += 2;
    while (digit_at(p, pos, n)) ++pos;
  }
  if (pos < n && (p[pos] == 'e' || p[pos] == 'E')) {
    size_t exp = pos + 1;
    if (exp < n && (p[exp] == '+' || p[exp] == '-')) ++exp;
    if (digit_at(p, exp, n)) {
      pos = exp + 1;
      while (digit_at(p, pos, n)) ++pos;
    }
  }
  // Where a non-ASCII digit could continue the number, the full matcher decides.
  if (pos < n) {
    const char stop = p[pos];
    if (static_cast<unsigned char>(stop) >= 0x80 || stop == '.' || stop == 'e' || stop == 'E') return false;
  }
  m = {pos - start, static_cast<unsigned>(Terminal::Number)};
  return true;
}

}  // namespace vexlor::lexing
