// The bytecode JSON writer and reader: exact text, accepted forms, every error
// message with its line and column, and the write/read round trip.

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "compiler/compiler.hpp"

namespace vexlor {
namespace {

const std::string ALL_VARIANTS =
    "`PushConst`, `LoadVar`, `Add`, `Sub`, `Mul`, `Div`, `FloorDiv`, `Mod`, `Pow`, `Neg`, `Pos`, `Not`, `And`, "
    "`Or`, `Eq`, `Ne`, `Lt`, `Le`, `Gt`, `Ge`, `Jump`, `JumpIfFalse`, `Call`";
const std::string DEC = "a Decimal type representing a fixed-point number";

// The program read back and written again, or the reader's error.
std::string reread(std::string_view text) {
  auto r = read_json(text);
  return r.ok() ? write_json(*r) : "error: " + r.error();
}

Decimal D(std::string_view text) {
  auto d = Decimal::from_str(text);
  EXPECT_TRUE(d.ok()) << text;
  return d.ok() ? *d : Decimal();
}

// ------------------------------------------------------------------ writer

TEST(JsonWriteTest, ExactText) {
  UuidBytes u{};
  for (size_t i = 0; i < 16; ++i) u[i] = static_cast<uint8_t>(0xA0 + i);
  const Program program = {
      OpCode::push_const(D("1.50")),
      OpCode::push_const(-Decimal::zero()),
      OpCode::push_const(-D("0.00")),
      OpCode::push_const(Decimal::max_value()),
      OpCode::push_const(D("-0.0000000000000000000000000001")),
      OpCode::load_var(VarId::name("x")),
      OpCode::load_var(VarId::uuid(u)),
      OpCode(OpKind::Sub),
      OpCode::jump(7),
      OpCode::jump_if_false(0),
      OpCode::call("max", 2),
      OpCode(OpKind::Ge),
  };
  EXPECT_EQ(write_json(program),
            R"([{"PushConst":"1.50"},{"PushConst":"-0"},{"PushConst":"-0.00"},)"
            R"({"PushConst":"79228162514264337593543950335"},{"PushConst":"-0.0000000000000000000000000001"},)"
            R"({"LoadVar":{"Name":"x"}},{"LoadVar":{"Uuid":"a0a1a2a3-a4a5-a6a7-a8a9-aaabacadaeaf"}},"Sub",)"
            R"({"Jump":7},{"JumpIfFalse":0},{"Call":["max",2]},"Ge"])");
  EXPECT_EQ(write_json(Program{}), "[]");
  EXPECT_EQ(write_json(Program{OpCode::jump(SIZE_MAX)}), "[{\"Jump\":" + std::to_string(SIZE_MAX) + "}]");
}

TEST(JsonWriteTest, AllOperandlessNames) {
  Program program;
  std::string expected = "[";
  for (size_t k = 2; k <= 19; ++k) {
    program.emplace_back(static_cast<OpKind>(k));
    if (k > 2) expected += ",";
    expected += "\"" + std::string(OP_NAMES[k]) + "\"";
  }
  EXPECT_EQ(write_json(program), expected + "]");
}

TEST(JsonWriteTest, StringEscapes) {
  const std::string name = std::string("a\"b\\c\b\t\n\f\r") + '\0' + "\x01\x1f\x20\x7f/\xc3\xa9\xff";
  const Program program = {OpCode::load_var(VarId::name(name)), OpCode::call(name, 1)};
  const std::string escaped = R"(a\"b\\c\b\t\n\f\r\u0000\u0001\u001f )" "\x7f/\xc3\xa9\xff";
  EXPECT_EQ(write_json(program),
            R"([{"LoadVar":{"Name":")" + escaped + R"("}},{"Call":[")" + escaped + R"(",1]}])");
}

TEST(JsonWriteTest, AppendsToBuffer) {
  std::string out = "prefix:";
  write_json(Program{OpCode(OpKind::Add)}, out);
  EXPECT_EQ(out, R"(prefix:["Add"])");
}

// ------------------------------------------------------------------ reader: accepted

struct ReadCase {
  const char* json;
  const char* written;  // the program written back
};

TEST(JsonReadTest, AcceptedForms) {
  static const ReadCase cases[] = {
      {"[]", "[]"},
      {" \t\r\n[ \n] \n", "[]"},
      {R"([ "Add" , {"Sub" : null} ,{ "Mul":null}])", R"(["Add","Sub","Mul"])"},
      {R"([{"PushConst":"1.50"}])", R"([{"PushConst":"1.50"}])"},
      {R"([{"PushConst":"1e3"}])", R"([{"PushConst":"1000"}])"},
      {R"([{"PushConst":"1.50e1"}])", R"([{"PushConst":"15.0"}])"},
      {R"([{"PushConst":"-0"}])", R"([{"PushConst":"0"}])"},
      {R"([{"PushConst":"1\u0030"}])", R"([{"PushConst":"10"}])"},
      {R"([{"PushConst":5}])", R"([{"PushConst":"5"}])"},
      {R"([{"PushConst":-7}])", R"([{"PushConst":"-7"}])"},
      {R"([{"PushConst":0}])", R"([{"PushConst":"0"}])"},
      {R"([{"PushConst":-0}])", R"([{"PushConst":"0"}])"},
      {R"([{"PushConst":18446744073709551615}])", R"([{"PushConst":"18446744073709551615"}])"},
      {R"([{"PushConst":-9223372036854775808}])", R"([{"PushConst":"-9223372036854775808"}])"},
      // Beyond 64 bits an integer keeps every digit while a Decimal can hold it.
      {R"([{"PushConst":18446744073709551616}])", R"([{"PushConst":"18446744073709551616"}])"},
      {R"([{"PushConst":-9223372036854775809}])", R"([{"PushConst":"-9223372036854775809"}])"},
      {R"([{"PushConst":12345678901234567890123456789}])", R"([{"PushConst":"12345678901234567890123456789"}])"},
      {R"([{"PushConst":-79228162514264337593543950335}])", R"([{"PushConst":"-79228162514264337593543950335"}])"},
      {R"([{"PushConst":1.5}])", R"([{"PushConst":"1.5"}])"},
      {R"([{"PushConst":1.50}])", R"([{"PushConst":"1.5"}])"},
      {R"([{"PushConst":1.0}])", R"([{"PushConst":"1"}])"},
      {R"([{"PushConst":-0.0}])", R"([{"PushConst":"0"}])"},
      {R"([{"PushConst":0.1}])", R"([{"PushConst":"0.1"}])"},
      {R"([{"PushConst":1e2}])", R"([{"PushConst":"100"}])"},
      {R"([{"PushConst":1E+2}])", R"([{"PushConst":"100"}])"},
      {R"([{"PushConst":1e-7}])", R"([{"PushConst":"0.0000001"}])"},
      {R"([{"PushConst":123.456e-2}])", R"([{"PushConst":"1.23456"}])"},
      {R"([{"PushConst":5e-324}])", R"([{"PushConst":"0.0000000000000000000000000000"}])"},
      {R"([{"PushConst":1e-400}])", R"([{"PushConst":"0"}])"},
      {R"([{"PushConst":1e-99999999999}])", R"([{"PushConst":"0"}])"},
      {R"([{"PushConst":0e99999999999}])", R"([{"PushConst":"0"}])"},
      {R"([{"LoadVar":{"Name":"x"}}])", R"([{"LoadVar":{"Name":"x"}}])"},
      {R"([{"LoadVar":{"Name":""}}])", R"([{"LoadVar":{"Name":""}}])"},
      {R"([{"LoadVar":{"Name":"not an identifier!"}}])", R"([{"LoadVar":{"Name":"not an identifier!"}}])"},
      {R"([{"LoadVar":{"Name":"a\nb\u00e9\ud83d\ude00\/"}}])",
       "[{\"LoadVar\":{\"Name\":\"a\\nb\xc3\xa9\xf0\x9f\x98\x80/\"}}]"},
      {R"([{"Jump":0},{"JumpIfFalse":7}])", R"([{"Jump":0},{"JumpIfFalse":7}])"},
      {R"([{"Call":["max",2]}])", R"([{"Call":["max",2]}])"},
      {R"([{"Call" : [ "no such function" , 0 ] }])", R"([{"Call":["no such function",0]}])"},
      {R"([{"Jump":99},{"Call":["",1000000]}])", R"([{"Jump":99},{"Call":["",1000000]}])"},
  };
  for (const auto& c : cases) EXPECT_EQ(reread(c.json), c.written) << c.json;
}

// Targets and counts are bounded by the platform's size type.
TEST(JsonReadTest, SizeBounds) {
  const std::string max = std::to_string(SIZE_MAX);
  EXPECT_EQ(reread("[{\"Jump\":" + max + "}]"), "[{\"Jump\":" + max + "}]");
  EXPECT_EQ(reread("[{\"Call\":[\"f\"," + max + "]}]"), "[{\"Call\":[\"f\"," + max + "]}]");
  if constexpr (SIZE_MAX < UINT64_MAX) {
    const std::string over = std::to_string(uint64_t{SIZE_MAX} + 1);
    EXPECT_EQ(reread("[{\"Jump\":" + over + "}]"),
              "error: invalid value: integer `" + over + "`, expected usize at line 1 column " +
                  std::to_string(9 + over.size()));
  }
  EXPECT_EQ(reread(R"([{"Jump":18446744073709551616}])"),
            "error: invalid type: floating point `18446744073709552000.0`, expected usize at line 1 column 29");
  EXPECT_EQ(reread(R"([{"Jump":-9223372036854775808}])"),
            "error: invalid value: integer `-9223372036854775808`, expected usize at line 1 column 29");
}

TEST(JsonReadTest, EveryOperandlessVariantInBothForms) {
  for (size_t k = 2; k <= 19; ++k) {
    const std::string name(OP_NAMES[k]);
    for (const std::string& json : {"[\"" + name + "\"]", "[{\"" + name + "\":null}]"}) {
      auto r = read_json(json);
      ASSERT_TRUE(r.ok()) << json;
      ASSERT_EQ(r->size(), 1u);
      EXPECT_EQ((*r)[0].kind(), static_cast<OpKind>(k));
    }
  }
}

TEST(JsonReadTest, UuidShapes) {
  const char* expected = R"([{"LoadVar":{"Uuid":"123e4567-e89b-12d3-a456-426614174000"}}])";
  for (const char* text : {"123e4567-e89b-12d3-a456-426614174000", "123E4567-E89B-12D3-A456-426614174000",
                           "123e4567e89b12d3a456426614174000", "{123e4567-e89b-12d3-a456-426614174000}",
                           "urn:uuid:123e4567-e89b-12d3-a456-426614174000", "{123E4567-e89b-12D3-a456-426614174000}"}) {
    const std::string json = std::string(R"([{"LoadVar":{"Uuid":")") + text + "\"}}]";
    EXPECT_EQ(reread(json), expected) << text;
  }
  // The same variable as the one compiled from the expression.
  auto compiled = compile_str("{123e4567-e89b-12d3-a456-426614174000}", 15);
  auto read = read_json(R"([{"LoadVar":{"Uuid":"urn:uuid:123E4567-E89B-12D3-A456-426614174000"}}])");
  ASSERT_TRUE(compiled.ok());
  ASSERT_TRUE(read.ok());
  EXPECT_TRUE(programs_equal(*compiled, *read));
  EXPECT_EQ((*read)[0].var().display(), "{123e4567-e89b-12d3-a456-426614174000}");
  // A Name that looks like a UUID is a different variable.
  auto name = read_json(R"([{"LoadVar":{"Name":"123e4567-e89b-12d3-a456-426614174000"}}])");
  ASSERT_TRUE(name.ok());
  EXPECT_FALSE(programs_equal(*compiled, *name));
}

TEST(JsonReadTest, ConstantsKeepTheirScale) {
  auto r = read_json(R"([{"PushConst":"1.500"},{"PushConst":"-0.00"},{"PushConst":"-1.0"}])");
  ASSERT_TRUE(r.ok());
  EXPECT_TRUE((*r)[0].constant().same_repr(D("1.500")));
  EXPECT_EQ((*r)[1].constant().scale(), 2u);
  EXPECT_FALSE((*r)[1].constant().is_sign_negative());  // the text reader stores zeros positive
  EXPECT_TRUE((*r)[2].constant().same_repr(D("-1.0")));
}

// ------------------------------------------------------------------ reader: errors

struct ErrorCase {
  std::string json;
  std::string message;  // full text with the position
};

void check_errors(const std::vector<ErrorCase>& cases) {
  for (const auto& c : cases) {
    auto r = read_json(c.json);
    ASSERT_FALSE(r.ok()) << c.json;
    EXPECT_EQ(r.error(), c.message) << c.json;
  }
}

TEST(JsonReadTest, SyntaxErrors) {
  check_errors({
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   ", "EOF while parsing a value at line 1 column 3"},
      {"[", "EOF while parsing a list at line 1 column 1"},
      {"[\n", "EOF while parsing a list at line 2 column 0"},
      {R"(["Add")", "EOF while parsing a list at line 1 column 6"},
      {R"(["Add",)", "EOF while parsing a value at line 1 column 7"},
      {R"([{)", "EOF while parsing a value at line 1 column 2"},
      {R"([{"Add")", "EOF while parsing an object at line 1 column 7"},
      {R"([{"Add":)", "EOF while parsing a value at line 1 column 8"},
      {R"([{"Add":null)", "EOF while parsing an object at line 1 column 12"},
      {R"([{"Add":null )", "EOF while parsing an object at line 1 column 13"},
      {R"([{"Add":nu)", "EOF while parsing a value at line 1 column 10"},
      {R"(["Ad)", "EOF while parsing a string at line 1 column 4"},
      {R"(["Add\)", "EOF while parsing a string at line 1 column 6"},
      {R"(["\u00)", "EOF while parsing a string at line 1 column 6"},
      {R"([{"LoadVar":{"Name":"x"})", "EOF while parsing an object at line 1 column 24"},
      {R"([{"Call":["max",2)", "EOF while parsing a list at line 1 column 17"},
      {R"([{"Call":["max")", "EOF while parsing a list at line 1 column 15"},
      {R"([{"Call":["max",)", "EOF while parsing a value at line 1 column 16"},
      {R"([{"Call":[)", "EOF while parsing a list at line 1 column 10"},
      {R"([{"Jump":-)", "EOF while parsing a value at line 1 column 10"},
      {R"([{"Jump":1.)", "EOF while parsing a value at line 1 column 11"},
      {R"([{"Jump":1e)", "EOF while parsing a value at line 1 column 11"},
      {R"([{"Jump":1e+)", "EOF while parsing a value at line 1 column 12"},
      {"x", "expected value at line 1 column 1"},
      {"[1]", "expected value at line 1 column 2"},
      {"[true]", "expected value at line 1 column 2"},
      {"[null]", "expected value at line 1 column 2"},
      {"[[]]", "expected value at line 1 column 2"},
      {"[,]", "expected value at line 1 column 2"},
      {"[{}]", "expected value at line 1 column 3"},
      {R"([{"Add":null,"Sub":null}])", "expected value at line 1 column 12"},
      {R"([{"Add":null "Sub":null}])", "expected value at line 1 column 13"},
      {R"([{"LoadVar":{"Name":"x","Uuid":"y"}}])", "expected value at line 1 column 23"},
      {R"([{"LoadVar":null}])", "expected value at line 1 column 13"},
      {R"([{"LoadVar":["x"]}])", "expected value at line 1 column 13"},
      {R"([{"Jump":+1}])", "expected value at line 1 column 10"},
      {R"([{"PushConst":+1}])", "expected value at line 1 column 15"},
      {R"([{"PushConst":.5}])", "expected value at line 1 column 15"},
      {R"(["Add" "Sub"])", "expected `,` or `]` at line 1 column 8"},
      {R"(["Add"}])", "expected `,` or `]` at line 1 column 7"},
      {R"([{"Call":["max" 2]}])", "expected `,` or `]` at line 1 column 17"},
      {R"([{"Add" null}])", "expected `:` at line 1 column 9"},
      {R"([{"LoadVar":{"Name"}}])", "expected `:` at line 1 column 20"},
      {R"(["Add",])", "trailing comma at line 1 column 8"},
      {R"(["Add", ])", "trailing comma at line 1 column 9"},
      {R"([{"Call":["max",]}])", "trailing comma at line 1 column 17"},
      {R"([{"Call":["max",2,]}])", "trailing comma at line 1 column 19"},
      {R"(["Add"] x)", "trailing characters at line 1 column 9"},
      {"[\"Add\"]\n\n  x", "trailing characters at line 3 column 3"},
      {R"([][])", "trailing characters at line 1 column 3"},
      {R"([{"Call":["max",2,3]}])", "trailing characters at line 1 column 19"},
      {R"([{"Call":["max",2,)", "trailing characters at line 1 column 18"},
      {R"([{"Call":["max",2 3]}])", "trailing characters at line 1 column 19"},
      {R"([{"Add":nulx}])", "expected ident at line 1 column 12"},
      {R"([{"Add":nx}])", "expected ident at line 1 column 10"},
      {R"([{"PushConst":tru}])", "expected ident at line 1 column 18"},
      {R"([{"LoadVar":{"Name":fals}}])", "expected ident at line 1 column 25"},
      {"nul", "EOF while parsing a value at line 1 column 3"},
  });
}

TEST(JsonReadTest, NumberErrors) {
  check_errors({
      {R"([{"PushConst":01}])", "invalid number at line 1 column 16"},
      {R"([{"PushConst":-01}])", "invalid number at line 1 column 17"},
      {R"([{"PushConst":-x}])", "invalid number at line 1 column 16"},
      {R"([{"PushConst":1.}])", "invalid number at line 1 column 17"},
      {R"([{"PushConst":1.e5}])", "invalid number at line 1 column 17"},
      {R"([{"PushConst":1e}])", "invalid number at line 1 column 17"},
      {R"([{"PushConst":1e+-1}])", "invalid number at line 1 column 18"},
      {R"([{"Jump":0x10}])", "expected value at line 1 column 10"},
      {R"([{"PushConst":1e999}])", "number out of range at line 1 column 19"},
      {R"([{"PushConst":-1.5e400}])", "number out of range at line 1 column 22"},
      {R"([{"Jump":1e309}])", "number out of range at line 1 column 14"},
      {R"([{"PushConst":1e99999999999}])", "number out of range at line 1 column 26"},
      {"[{\"PushConst\":1" + std::string(400, '0') + "}]", "number out of range at line 1 column 415"},
  });
}

TEST(JsonReadTest, StringErrors) {
  check_errors({
      {R"(["\x"])", "invalid escape at line 1 column 4"},
      {R"(["\'"])", "invalid escape at line 1 column 4"},
      {R"(["\uZZZZ"])", "invalid escape at line 1 column 8"},
      {R"(["\u12G4"])", "invalid escape at line 1 column 8"},
      {R"(["\uDC00"])", "lone leading surrogate in hex escape at line 1 column 8"},
      {R"(["\uD800\u0041"])", "lone leading surrogate in hex escape at line 1 column 14"},
      {R"(["\uD800\uD800"])", "lone leading surrogate in hex escape at line 1 column 14"},
      {R"(["\uD800x"])", "unexpected end of hex escape at line 1 column 9"},
      {R"(["\uD800"])", "unexpected end of hex escape at line 1 column 9"},
      {R"(["\uD800\n"])", "unexpected end of hex escape at line 1 column 10"},
      {R"(["\uD800)", "EOF while parsing a string at line 1 column 8"},
      {R"(["\uD800\)", "EOF while parsing a string at line 1 column 9"},
      {R"(["\uD800\uDC0)", "EOF while parsing a string at line 1 column 13"},
      {"[\"a\x01\"]", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 4"},
      {"[\"a\nb\"]", "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"},
      {"[\"\t\"]", "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 3"},
      {"[\"\xff\"]", "invalid unicode code point at line 1 column 4"},
      {"[\"\xc3\"]", "invalid unicode code point at line 1 column 4"},
      {"[\"\xed\xa0\x80\"]", "invalid unicode code point at line 1 column 6"},
  });
}

TEST(JsonReadTest, NestingBeyond128) {
  // A second array where an instruction belongs is refused at its first byte.
  check_errors({
      {std::string(200, '['), "expected value at line 1 column 2"},
      {std::string(200, '[') + std::string(200, ']'), "expected value at line 1 column 2"},
      {"[{\"PushConst\":" + std::string(200, '['), "invalid type: sequence, expected " + DEC + " at line 1 column 14"},
      {"[{\"Call\":[" + std::string(200, '['), "invalid type: sequence, expected a string at line 1 column 10"},
  });
}

TEST(JsonReadTest, TypeErrors) {
  check_errors({
      {"{}", "invalid type: map, expected a sequence at line 1 column 0"},
      {" {\"Add\":null}", "invalid type: map, expected a sequence at line 1 column 1"},
      {R"("x")", "invalid type: string \"x\", expected a sequence at line 1 column 3"},
      {"5", "invalid type: integer `5`, expected a sequence at line 1 column 1"},
      {"-2.5", "invalid type: floating point `-2.5`, expected a sequence at line 1 column 4"},
      {"null", "invalid type: null, expected a sequence at line 1 column 4"},
      {"true", "invalid type: boolean `true`, expected a sequence at line 1 column 4"},
      {R"([{"Add":1}])", "invalid type: integer `1`, expected unit at line 1 column 9"},
      {R"([{"Add":"null"}])", "invalid type: string \"null\", expected unit at line 1 column 14"},
      {R"([{"Add":false}])", "invalid type: boolean `false`, expected unit at line 1 column 13"},
      {R"([{"Add":[]}])", "invalid type: sequence, expected unit at line 1 column 8"},
      {R"([{"Add":{}}])", "invalid type: map, expected unit at line 1 column 8"},
      {R"(["PushConst"])", "invalid type: unit variant, expected newtype variant at line 1 column 12"},
      {R"(["LoadVar"])", "invalid type: unit variant, expected newtype variant at line 1 column 10"},
      {R"(["Jump"])", "invalid type: unit variant, expected newtype variant at line 1 column 7"},
      {R"(["JumpIfFalse"])", "invalid type: unit variant, expected newtype variant at line 1 column 14"},
      {R"(["Call"])", "invalid type: unit variant, expected tuple variant at line 1 column 7"},
      {R"([{1:null}])", "invalid type: integer `1`, expected variant identifier at line 1 column 3"},
      {R"([{null:null}])", "invalid type: null, expected variant identifier at line 1 column 6"},
      {R"([{"PushConst":null}])", "invalid type: null, expected " + DEC + " at line 1 column 18"},
      {R"([{"PushConst":true}])", "invalid type: boolean `true`, expected " + DEC + " at line 1 column 18"},
      {R"([{"PushConst":[]}])", "invalid type: sequence, expected " + DEC + " at line 1 column 14"},
      {R"([{"PushConst":{"a":1}}])", "invalid type: map, expected " + DEC + " at line 1 column 14"},
      {R"([{"LoadVar":"Name"}])", "invalid type: unit variant, expected newtype variant at line 1 column 18"},
      {R"([{"LoadVar":"Uuid"}])", "invalid type: unit variant, expected newtype variant at line 1 column 18"},
      {R"([{"LoadVar":{"Name":1}}])", "invalid type: integer `1`, expected a string at line 1 column 21"},
      {R"([{"LoadVar":{"Name":null}}])", "invalid type: null, expected a string at line 1 column 24"},
      {R"([{"LoadVar":{"Name":["x"]}}])", "invalid type: sequence, expected a string at line 1 column 20"},
      {R"([{"LoadVar":{"Uuid":7}}])", "invalid type: integer `7`, expected a formatted UUID string at line 1 column 21"},
      {R"([{"LoadVar":{2:"x"}}])", "invalid type: integer `2`, expected variant identifier at line 1 column 14"},
      {R"([{"Jump":1.0}])", "invalid type: floating point `1.0`, expected usize at line 1 column 12"},
      {R"([{"Jump":-0}])", "invalid type: floating point `-0.0`, expected usize at line 1 column 11"},
      {R"([{"Jump":1e2}])", "invalid type: floating point `100.0`, expected usize at line 1 column 12"},
      {R"([{"Jump":0.5}])", "invalid type: floating point `0.5`, expected usize at line 1 column 12"},
      {R"([{"Jump":18446744073709551616}])",
       "invalid type: floating point `18446744073709552000.0`, expected usize at line 1 column 29"},
      {R"([{"Jump":-9223372036854775809}])",
       "invalid type: floating point `-9223372036854776000.0`, expected usize at line 1 column 29"},
      {R"([{"Jump":"1"}])", "invalid type: string \"1\", expected usize at line 1 column 12"},
      {R"([{"Jump":null}])", "invalid type: null, expected usize at line 1 column 13"},
      {R"([{"Jump":true}])", "invalid type: boolean `true`, expected usize at line 1 column 13"},
      {R"([{"Jump":[1]}])", "invalid type: sequence, expected usize at line 1 column 9"},
      {R"([{"JumpIfFalse":{}}])", "invalid type: map, expected usize at line 1 column 16"},
      {R"([{"Call":"max"}])", "invalid type: string \"max\", expected tuple variant OpCode::Call at line 1 column 14"},
      {R"([{"Call":2}])", "invalid type: integer `2`, expected tuple variant OpCode::Call at line 1 column 10"},
      {R"([{"Call":{}}])", "invalid type: map, expected tuple variant OpCode::Call at line 1 column 9"},
      {R"([{"Call":[1,2]}])", "invalid type: integer `1`, expected a string at line 1 column 11"},
      {R"([{"Call":[null,2]}])", "invalid type: null, expected a string at line 1 column 14"},
      {R"([{"Call":["max","2"]}])", "invalid type: string \"2\", expected usize at line 1 column 19"},
      {R"([{"Call":["max",2.5]}])", "invalid type: floating point `2.5`, expected usize at line 1 column 19"},
      {R"([{"Call":[,2]}])", "expected value at line 1 column 11"},
  });
}

TEST(JsonReadTest, ValueAndLengthErrors) {
  check_errors({
      {R"([{"Jump":-1}])", "invalid value: integer `-1`, expected usize at line 1 column 11"},
      {R"([{"JumpIfFalse":-9223372036854775808}])",
       "invalid value: integer `-9223372036854775808`, expected usize at line 1 column 36"},
      {R"([{"Call":["max",-3]}])", "invalid value: integer `-3`, expected usize at line 1 column 18"},
      {R"([{"PushConst":"abc"}])", "invalid value: string \"abc\", expected " + DEC + " at line 1 column 19"},
      {R"([{"PushConst":" 1"}])", "invalid value: string \" 1\", expected " + DEC + " at line 1 column 18"},
      {R"([{"PushConst":""}])", "invalid value: string \"\", expected " + DEC + " at line 1 column 16"},
      {R"([{"PushConst":"a\"b\\c\n\u0001\u007f"}])",
       "invalid value: string \"a\\\"b\\\\c\\n\\u{1}\\u{7f}\", expected " + DEC + " at line 1 column 37"},
      {R"([{"PushConst":"79228162514264337593543950336"}])",
       "invalid value: string \"79228162514264337593543950336\", expected " + DEC + " at line 1 column 45"},
      {R"([{"PushConst":1e30}])",
       "invalid value: floating point `1000000000000000000000000000000.0`, expected " + DEC + " at line 1 column 18"},
      {R"([{"PushConst":79228162514264337593543950336}])",
       "invalid value: floating point `79228162514264340000000000000.0`, expected " + DEC + " at line 1 column 43"},
      {R"([{"PushConst":-1e29}])",
       "invalid value: floating point `-100000000000000000000000000000.0`, expected " + DEC + " at line 1 column 19"},
      {R"([{"Call":[]}])", "invalid length 0, expected tuple variant OpCode::Call with 2 elements at line 1 column 11"},
      {R"([{"Call":[ ]}])", "invalid length 0, expected tuple variant OpCode::Call with 2 elements at line 1 column 12"},
      {R"([{"Call":["max"]}])",
       "invalid length 1, expected tuple variant OpCode::Call with 2 elements at line 1 column 16"},
      {R"([{"Call":["max" ]}])",
       "invalid length 1, expected tuple variant OpCode::Call with 2 elements at line 1 column 17"},
  });
}

TEST(JsonReadTest, UnknownVariants) {
  check_errors({
      {R"(["add"])", "unknown variant `add`, expected one of " + ALL_VARIANTS + " at line 1 column 6"},
      {R"([{"push":1}])", "unknown variant `push`, expected one of " + ALL_VARIANTS + " at line 1 column 8"},
      {R"([""])", "unknown variant ``, expected one of " + ALL_VARIANTS + " at line 1 column 3"},
      {"[\n\"Add\",\n  \"Nop\"]", "unknown variant `Nop`, expected one of " + ALL_VARIANTS + " at line 3 column 7"},
      {R"([{"LoadVar":{"Nme":"x"}}])", "unknown variant `Nme`, expected `Uuid` or `Name` at line 1 column 18"},
      {R"([{"LoadVar":"name"}])", "unknown variant `name`, expected `Uuid` or `Name` at line 1 column 18"},
  });
}

TEST(JsonReadTest, UuidErrors) {
  auto uuid_error = [](const std::string& text) {
    const std::string json = R"([{"LoadVar":{"Uuid":")" + text + "\"}}]";
    auto r = read_json(json);
    EXPECT_FALSE(r.ok()) << text;
    const std::string suffix = " at line 1 column " + std::to_string(json.size() - 3);
    std::string message = r.ok() ? "" : r.error();
    EXPECT_TRUE(message.size() > suffix.size() && message.ends_with(suffix)) << message;
    return message.substr(0, message.size() - suffix.size());
  };
  EXPECT_EQ(uuid_error(""), "UUID parsing failed: invalid length: expected length 32 for simple format, found 0");
  EXPECT_EQ(uuid_error("123e4567"), "UUID parsing failed: invalid length: expected length 32 for simple format, found 8");
  EXPECT_EQ(uuid_error("123e4567-e89b-12d3-a456-42661417400g"),
            "UUID parsing failed: invalid character: found `g` at 35");
  EXPECT_EQ(uuid_error("123e4567-e89b-12d3-a456"), "UUID parsing failed: invalid group count: expected 5, found 4");
  EXPECT_EQ(uuid_error("123e4567-e89b-12d3-a4560-42661417400"),
            "UUID parsing failed: invalid group length in group 4: expected 4, found 5");
  for (const char* bad : {"{123e4567-e89b-12d3-a456-426614174000", "urn:uuid:123e4567e89b12d3a456426614174000",
                          "123e4567-e89b-12d3-a456-4266141740001"}) {
    EXPECT_EQ(uuid_error(bad).rfind("UUID parsing failed: ", 0), 0u) << bad;
  }
}

// ------------------------------------------------------------------ round trip

// Random programs of every instruction kind, with constants of every scale and
// names with every kind of byte, read back identically.
TEST(JsonRoundTripTest, RandomProgramsReadBackIdentically) {
  std::mt19937_64 rng(20240521);
  auto pick = [&](uint64_t n) { return rng() % n; };
  for (int round = 0; round < 300; ++round) {
    Program program;
    const size_t length = pick(40);
    for (size_t i = 0; i < length; ++i) {
      const auto kind = static_cast<OpKind>(pick(OP_KIND_COUNT));
      switch (kind) {
        case OpKind::PushConst: {
          const uint64_t lo = pick(4) == 0 ? rng() : pick(1000);
          const uint32_t hi = pick(4) == 0 ? static_cast<uint32_t>(rng()) : 0;
          program.push_back(OpCode::push_const(
              Decimal::from_parts(lo, hi, static_cast<uint32_t>(pick(29)), pick(2) == 0)));
          break;
        }
        case OpKind::LoadVar:
          if (pick(2) == 0) {
            UuidBytes u;
            for (auto& b : u) b = static_cast<uint8_t>(rng());
            program.push_back(OpCode::load_var(VarId::uuid(u)));
          } else {
            std::string name(pick(8), ' ');
            for (auto& ch : name) ch = static_cast<char>(pick(2) == 0 ? 'a' + pick(26) : pick(128));
            program.push_back(OpCode::load_var(VarId::name(name)));
          }
          break;
        case OpKind::Jump:
          program.push_back(OpCode::jump(pick(2) == 0 ? pick(100) : rng()));
          break;
        case OpKind::JumpIfFalse:
          program.push_back(OpCode::jump_if_false(pick(100)));
          break;
        case OpKind::Call:
          program.push_back(OpCode::call(pick(2) == 0 ? "max" : "f\"\\\x01", pick(2) == 0 ? pick(5) : rng()));
          break;
        default:
          program.emplace_back(kind);
      }
    }
    const std::string json = write_json(program);
    auto back = read_json(json);
    ASSERT_TRUE(back.ok()) << json << "\n" << back.error();
    ASSERT_TRUE(programs_equal(program, *back)) << json;
    for (size_t i = 0; i < program.size(); ++i) {
      if (program[i].kind() != OpKind::PushConst) continue;
      const Decimal& a = program[i].constant();
      const Decimal& b = (*back)[i].constant();
      // The text form keeps the scale; a negative zero reads back as a positive zero.
      EXPECT_EQ(a.scale(), b.scale()) << json;
      if (!a.is_zero()) {
        EXPECT_TRUE(a.same_repr(b)) << json;
      }
    }
    EXPECT_EQ(write_json(*back), json);
  }
}

}  // namespace
}  // namespace vexlor
