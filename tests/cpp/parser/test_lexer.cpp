#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "parser/parser.hpp"
#include "parser/unicode.hpp"

namespace vexlor {
namespace {

const char* const TERMINAL_NAMES[TERMINAL_COUNT] = {
    "NUMBER", "UUID", "IDENT", "!=", "%",  "(", ")", "*", "+", ",",   "-",   "/",  "//",
    ":",      "<",    "<=",    "==", ">",  ">=", "?", "^", "and", "not", "or", "{",  "}",
};

// Renders every token as "TERMINAL 'text' start:end" and the final step as
// "END" or "INVALID@offset", separated by " | ".
std::string lex_all(std::string_view text) {
  Lexer lexer(text);
  std::string out;
  for (;;) {
    LexStep step = lexer.next();
    if (!out.empty()) out += " | ";
    if (step.kind == LexStep::Kind::EndOfInput) return out + "END";
    if (step.kind == LexStep::Kind::InvalidToken) return out + "INVALID@" + std::to_string(step.offset);
    const Token& t = step.token;
    EXPECT_EQ(t.text, text.substr(t.start, t.end - t.start));
    out += std::string(TERMINAL_NAMES[static_cast<size_t>(t.terminal)]) + " '" + std::string(t.text) + "' " +
           std::to_string(t.start) + ":" + std::to_string(t.end);
  }
}

struct LexCase {
  const char* text;
  const char* tokens;
};

const LexCase LEX_CASES[] = {
    {"", "END"},
    {"   \t\n\r\v\f", "END"},
    {"\u3000\u00a0 \u2028", "END"},
    {"\u0085\u1680\u2000\u200a\u2029\u202f\u205f", "END"},
    // Keywords against identifiers: longest match, then the higher index.
    {"and or not", "and 'and' 0:3 | or 'or' 4:6 | not 'not' 7:10 | END"},
    {"andor", "IDENT 'andor' 0:5 | END"},
    {"andy order not_x not1", "IDENT 'andy' 0:4 | IDENT 'order' 5:10 | IDENT 'not_x' 11:16 | IDENT 'not1' 17:21 | END"},
    {"AND Not _a9", "IDENT 'AND' 0:3 | IDENT 'Not' 4:7 | IDENT '_a9' 8:11 | END"},
    // A NUMBER may begin with "-".
    {"1-2", "NUMBER '1' 0:1 | NUMBER '-2' 1:3 | END"},
    {"a-1", "IDENT 'a' 0:1 | NUMBER '-1' 1:3 | END"},
    {"1 - 2", "NUMBER '1' 0:1 | - '-' 2:3 | NUMBER '2' 4:5 | END"},
    {"a-b", "IDENT 'a' 0:1 | - '-' 1:2 | IDENT 'b' 2:3 | END"},
    {"2*-3", "NUMBER '2' 0:1 | * '*' 1:2 | NUMBER '-3' 2:4 | END"},
    {"x--1", "IDENT 'x' 0:1 | - '-' 1:2 | NUMBER '-1' 2:4 | END"},
    {"--1", "- '-' 0:1 | NUMBER '-1' 1:3 | END"},
    // Number forms.
    {"1e5 1E+5 2.5e-3 -7.25", "NUMBER '1e5' 0:3 | NUMBER '1E+5' 4:8 | NUMBER '2.5e-3' 9:15 | NUMBER '-7.25' 16:21 | END"},
    {"1.", "NUMBER '1' 0:1 | INVALID@1"},
    {".5", "INVALID@0"},
    {"1e", "NUMBER '1' 0:1 | IDENT 'e' 1:2 | END"},
    {"1e+", "NUMBER '1' 0:1 | IDENT 'e' 1:2 | + '+' 2:3 | END"},
    {"1.5.2", "NUMBER '1.5' 0:3 | INVALID@3"},
    {"1_000", "NUMBER '1' 0:1 | IDENT '_000' 1:5 | END"},
    {"1e999", "NUMBER '1e999' 0:5 | END"},
    {"007", "NUMBER '007' 0:3 | END"},
    // Non-ASCII digits (Arabic-Indic, Devanagari, the last Nd range U+1FBF0..U+1FBF9).
    {"\u0661\u0662", "NUMBER '\u0661\u0662' 0:4 | END"},
    {"-\u0967.\u0968e\u0969", "NUMBER '-\u0967.\u0968e\u0969' 0:12 | END"},
    {"\U0001FBF0\U0001FBF9+1", "NUMBER '\U0001FBF0\U0001FBF9' 0:8 | + '+' 8:9 | NUMBER '1' 9:10 | END"},
    {"1\u0660", "NUMBER '1\u0660' 0:3 | END"},
    // ASCII digits that go on with non-ASCII ones, in every part of a number.
    {"1.\u0661", "NUMBER '1.\u0661' 0:4 | END"},
    {"1e\u0661 ", "NUMBER '1e\u0661' 0:4 | END"},
    {"2.5E-\u0661", "NUMBER '2.5E-\u0661' 0:7 | END"},
    {"1e5\u0661", "NUMBER '1e5\u0661' 0:5 | END"},
    {"-\u0661-1", "NUMBER '-\u0661' 0:3 | NUMBER '-1' 3:5 | END"},
    {"x-\u00a01", "IDENT 'x' 0:1 | - '-' 1:2 | NUMBER '1' 4:5 | END"},
    {"-", "- '-' 0:1 | END"},
    {"9.x", "NUMBER '9' 0:1 | INVALID@1"},
    {"1\u00a0", "NUMBER '1' 0:1 | END"},
    {"\u00b2", "INVALID@0"},  // superscript two is not Nd
    {"\u2160", "INVALID@0"},  // roman numeral one is Nl, not Nd
    // Two-character operators win over their prefixes.
    {"a<=b", "IDENT 'a' 0:1 | <= '<=' 1:3 | IDENT 'b' 3:4 | END"},
    {"a< =b", "IDENT 'a' 0:1 | < '<' 1:2 | INVALID@3"},
    {"// / >= > == != <", "// '//' 0:2 | / '/' 3:4 | >= '>=' 5:7 | > '>' 8:9 | == '==' 10:12 | != '!=' 13:15 | < '<' 16:17 | END"},
    {"///", "// '//' 0:2 | / '/' 2:3 | END"},
    {"**", "* '*' 0:1 | * '*' 1:2 | END"},
    {"%(),:?^{}", "% '%' 0:1 | ( '(' 1:2 | ) ')' 2:3 | , ',' 3:4 | : ':' 4:5 | ? '?' 5:6 | ^ '^' 6:7 | { '{' 7:8 | } '}' 8:9 | END"},
    {"=", "INVALID@0"},
    {"!", "INVALID@0"},
    {"a ! = b", "IDENT 'a' 0:1 | INVALID@2"},
    {"&", "INVALID@0"},
    {"|", "INVALID@0"},
    {"$", "INVALID@0"},
    {"#", "INVALID@0"},
    {";", "INVALID@0"},
    {"[", "INVALID@0"},
    {"]", "INVALID@0"},
    {"1 + $", "NUMBER '1' 0:1 | + '+' 2:3 | INVALID@4"},
    // UUIDs: 36 characters beat any NUMBER or IDENT starting at the same place.
    {"{123e4567-e89b-12d3-a456-426614174000}",
     "{ '{' 0:1 | UUID '123e4567-e89b-12d3-a456-426614174000' 1:37 | } '}' 37:38 | END"},
    {"{ 123e4567-e89b-12d3-a456-426614174000 }",
     "{ '{' 0:1 | UUID '123e4567-e89b-12d3-a456-426614174000' 2:38 | } '}' 39:40 | END"},
    {"12345678-1234-1234-1234-123456789abc", "UUID '12345678-1234-1234-1234-123456789abc' 0:36 | END"},
    {"abcdef01-2345-6789-abcd-ef0123456789x",
     "UUID 'abcdef01-2345-6789-abcd-ef0123456789' 0:36 | IDENT 'x' 36:37 | END"},
    {"123e4567-e89b-12d3-a456-42661417400", "NUMBER '123e4567' 0:8 | - '-' 8:9 | IDENT 'e89b' 9:13 | "
                                            "NUMBER '-12' 13:16 | IDENT 'd3' 16:18 | - '-' 18:19 | IDENT 'a456' 19:23 | "
                                            "NUMBER '-42661417400' 23:35 | END"},
    {"deadbeef-dead-beef-dead-beefdeadbeef*2",
     "UUID 'deadbeef-dead-beef-dead-beefdeadbeef' 0:36 | * '*' 36:37 | NUMBER '2' 37:38 | END"},
    {"deadbeef-dead-beef-dead-beefdeadbeeg", "IDENT 'deadbeef' 0:8 | - '-' 8:9 | IDENT 'dead' 9:13 | - '-' 13:14 | "
                                             "IDENT 'beef' 14:18 | - '-' 18:19 | IDENT 'dead' 19:23 | - '-' 23:24 | "
                                             "IDENT 'beefdeadbeeg' 24:36 | END"},
    {"123E4567-E89B", "NUMBER '123E4567' 0:8 | - '-' 8:9 | IDENT 'E89B' 9:13 | END"},
    {"ABCDEF01-2345", "IDENT 'ABCDEF01' 0:8 | NUMBER '-2345' 8:13 | END"},
    {"12345678-1234-1234-1234-123456789ab", "NUMBER '12345678' 0:8 | NUMBER '-1234' 8:13 | NUMBER '-1234' 13:18 | "
                                             "NUMBER '-1234' 18:23 | NUMBER '-123456789' 23:33 | IDENT 'ab' 33:35 | END"},
    // Offsets are bytes of the UTF-8 encoding.
    {"\u00e9+1", "INVALID@0"},
    {"1\u3000+ 2", "NUMBER '1' 0:1 | + '+' 4:5 | NUMBER '2' 6:7 | END"},
    {"\u00a0x", "IDENT 'x' 2:3 | END"},
    {"x \u00e9", "IDENT 'x' 0:1 | INVALID@2"},
    // Malformed UTF-8 matches nothing.
    {"\xff", "INVALID@0"},
    {"\xe3\x80", "INVALID@0"},
    {"1\xc0\xa0", "NUMBER '1' 0:1 | INVALID@1"},
    {"\xed\xa0\x80", "INVALID@0"},  // an encoded surrogate
};

TEST(Lexer, TokenTable) {
  for (const LexCase& c : LEX_CASES) {
    EXPECT_EQ(lex_all(c.text), c.tokens) << "text: " << c.text;
  }
}

TEST(Lexer, StopsAtInvalidTokenWithoutAdvancing) {
  Lexer lexer("1 $");
  EXPECT_EQ(lexer.next().kind, LexStep::Kind::Token);
  LexStep step = lexer.next();
  EXPECT_EQ(step.kind, LexStep::Kind::InvalidToken);
  EXPECT_EQ(step.offset, 2u);
  EXPECT_EQ(lexer.offset(), 2u);
}

TEST(Lexer, SeekContinuesFromAnOffset) {
  Lexer lexer("a + \u00a0b1");
  lexer.seek(3);
  LexStep step = lexer.next();
  ASSERT_EQ(step.kind, LexStep::Kind::Token);
  EXPECT_EQ(step.token.terminal, Terminal::Ident);
  EXPECT_EQ(step.token.text, "b1");
  EXPECT_EQ(step.token.start, 6u);
  EXPECT_EQ(lexer.offset(), 8u);
  EXPECT_EQ(lexer.next().kind, LexStep::Kind::EndOfInput);
}

TEST(Lexer, DisplayStrings) {
  EXPECT_EQ(terminal_display(Terminal::Number), R"x(r#"-?\\d+(\\.\\d+)?([eE][+-]?\\d+)?"#)x");
  EXPECT_EQ(terminal_display(Terminal::Uuid),
            R"x(r#"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"#)x");
  EXPECT_EQ(terminal_display(Terminal::Ident), R"x(r#"[a-zA-Z_][a-zA-Z0-9_]*"#)x");
  for (size_t i = 3; i < TERMINAL_COUNT; ++i) {
    EXPECT_EQ(terminal_display(static_cast<Terminal>(i)), "\"" + std::string(TERMINAL_NAMES[i]) + "\"");
  }
}

// The character classes against their defining counts: 760 Nd code points in
// 76 runs of ten, 25 White_Space code points.
TEST(Lexer, CharacterClassCounts) {
  size_t digits = 0, spaces = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    digits += is_decimal_digit(cp);
    spaces += is_white_space(cp);
  }
  EXPECT_EQ(digits, 760u);
  EXPECT_EQ(spaces, 25u);
  EXPECT_TRUE(is_decimal_digit(0x30));
  EXPECT_TRUE(is_decimal_digit(0x39));
  EXPECT_FALSE(is_decimal_digit(0x2F));
  EXPECT_FALSE(is_decimal_digit(0x3A));
  EXPECT_TRUE(is_decimal_digit(0x1FBF0));
  EXPECT_TRUE(is_decimal_digit(0x1FBF9));
  EXPECT_FALSE(is_decimal_digit(0x1FBFA));
  for (char32_t cp : {0x09, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000}) {
    EXPECT_TRUE(is_white_space(cp)) << std::hex << static_cast<uint32_t>(cp);
  }
  for (char32_t cp : {0x08, 0x0E, 0x1F, 0x200B, 0xFEFF, 0x180E}) {
    EXPECT_FALSE(is_white_space(cp)) << std::hex << static_cast<uint32_t>(cp);
  }
}

TEST(Lexer, Utf8Decoding) {
  struct Case {
    std::string_view bytes;
    size_t length;
    char32_t cp;
  };
  const Case cases[] = {
      {"A", 1, 0x41},           {"\xc2\x80", 2, 0x80},         {"\xdf\xbf", 2, 0x7FF},
      {"\xe0\xa0\x80", 3, 0x800}, {"\xef\xbf\xbf", 3, 0xFFFF},  {"\xf0\x90\x80\x80", 4, 0x10000},
      {"\xf4\x8f\xbf\xbf", 4, 0x10FFFF},
      {"\xc1\xbf", 0, 0},        {"\xe0\x9f\xbf", 0, 0},        {"\xf0\x8f\xbf\xbf", 0, 0},  // overlong
      {"\xf4\x90\x80\x80", 0, 0}, {"\xed\xbf\xbf", 0, 0},        {"\x80", 0, 0},
      {"\xe3\x80", 0, 0},        {"\xe3\x41\x80", 0, 0},
  };
  for (const Case& c : cases) {
    char32_t cp = 0;
    size_t length = decode_utf8(c.bytes, 0, cp);
    EXPECT_EQ(length, c.length);
    if (length != 0) {
      EXPECT_EQ(cp, c.cp);
    }
  }
}

}  // namespace
}  // namespace vexlor
