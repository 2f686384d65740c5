// Expression text -> program -> result, through the compiler, the JSON text
// form and the execution loop.

#include <gtest/gtest.h>

#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "compiler/compiler.hpp"
#include "vm/vm.hpp"

namespace vexlor {
namespace {

Decimal D(std::string_view text) {
  auto d = Decimal::from_str(text);
  EXPECT_TRUE(d.ok()) << text;
  return d.ok() ? *d : Decimal();
}

struct Var {
  const char* name;  // a UUID text in braces names a Uuid variable
  const char* value;
};

VmContext context_of(const std::vector<Var>& vars) {
  VmContext ctx;
  for (const Var& v : vars) {
    const std::string_view name = v.name;
    VarId id = VarId::name(name);
    if (name.size() == 38 && name.front() == '{') id = VarId::uuid(*parse_uuid(name));
    ctx.variables.insert_or_assign(id, D(v.value));
  }
  return ctx;
}

std::string outcome(const Expected<Decimal, VmError>& r) {
  return r.ok() ? r.value().to_string() : "error: " + r.error().to_string();
}

struct Case {
  const char* text;
  std::vector<Var> vars;
  std::optional<uint64_t> gas;
  const char* expected;  // the result's text, "error: " + a run error, or a compile error
};

TEST(EndToEndTest, ExamplesFromTextToResult) {
  const std::vector<Case> cases = {
      {"a + b * 2", {{"a", "1"}, {"b", "5"}}, 100, "11"},
      {"a + b * 2", {{"a", "1"}, {"b", "5"}}, 9, "11"},
      {"a + b * 2", {{"a", "1"}, {"b", "5"}}, 8, "error: Out of gas: instruction cost 3 exceeds remaining 2 (limit 8)"},
      {"max(x, 3) > 10 ? 1 : 0", {{"x", "20"}}, {}, "1"},
      {"max(x, 3) > 10 ? 1 : 0", {{"x", "2"}}, {}, "0"},
      {"10 - 5 - 2", {}, {}, "7"},
      {"2 ^ 3 ^ 2", {}, {}, "512"},
      {"-2 ^ 2", {}, {}, "4"},
      {"+-1", {}, {}, "-1"},
      {"x > 0 ? 1 : 2", {{"x", "5"}}, {}, "1"},
      {"x > 0 ? 1 : 2", {{"x", "-1"}}, {}, "2"},
      {"a ? b : c ? d : e", {{"a", "0"}, {"b", "1"}, {"c", "0"}, {"d", "2"}, {"e", "3"}}, {}, "3"},
      {"a ? (b ? c : d) : e", {{"a", "1"}, {"b", "0"}, {"c", "1"}, {"d", "2"}, {"e", "3"}}, {}, "2"},
      {"a == b ? 1 : 0", {{"a", "1.0"}, {"b", "1"}}, {}, "1"},
      {"x and 1 / x", {{"x", "0"}}, {}, "error: Division by zero"},
      {"x or 1 / x", {{"x", "0"}}, {}, "error: Division by zero"},
      {"1.5 + 1.50", {}, {}, "3.00"},
      {"1 / 3", {}, {}, "0.3333333333333333333333333333"},
      {"average(1, 2)", {}, {}, "1.50"},
      {"max(1, 1.0)", {}, {}, "1.0"},
      {"min(1, 1.0)", {}, {}, "1"},
      {"sum()", {}, {}, "0"},
      {"mul()", {}, {}, "1"},
      {"average()", {}, {}, "error: Invalid argument count: expected 1, got 0"},
      {"sqrt(-0)", {}, {}, "0"},
      {"-(0)", {}, {}, "-0"},
      {"not 0.00", {}, {}, "1"},
      {"not (-(0))", {}, {}, "1"},
      {"2 ^ 10", {}, 13, "1024"},
      {"2 ^ 10", {}, 12, "error: Out of gas: instruction cost 11 exceeds remaining 10 (limit 12)"},
      {"1 + 2", {}, 0, "error: Out of gas: instruction cost 1 exceeds remaining 0 (limit 0)"},
      {"Max(1)", {}, {}, "error: Function not found: Max"},
      {"y + 1", {}, {}, "error: Variable not found: y"},
      {"max(1, 2) + max", {{"max", "10"}}, {}, "12"},
      {"{123e4567-e89b-12d3-a456-426614174000} * 2", {{"{123e4567-e89b-12d3-a456-426614174000}", "4"}}, {}, "8"},
      {"{123e4567-e89b-12d3-a456-426614174000} * 2", {}, {},
       "error: Variable not found: {123e4567-e89b-12d3-a456-426614174000}"},
      {"a + 1", {{"A", "1"}}, {}, "error: Variable not found: a"},
      {"1 + $", {}, {}, "Parse error: Invalid token at 4"},
      {"1e999 + 1", {}, {}, "Parse error: Invalid decimal literal"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto program = compile_str(c.text, 15);
    if (!program.ok()) {
      EXPECT_EQ(program.error(), c.expected);
      continue;
    }
    const VmContext ctx = context_of(c.vars);
    const std::string direct = outcome(run(*program, ctx, c.gas));
    EXPECT_EQ(direct, c.expected);
    auto reread = read_json(write_json(*program));
    ASSERT_TRUE(reread.ok()) << reread.error();
    EXPECT_EQ(outcome(run(*reread, ctx, c.gas)), direct);
  }
}

TEST(EndToEndTest, GasOfTheOverviewExample) {
  auto program = compile_str("a + b * 2", 15);
  ASSERT_TRUE(program.ok());
  uint64_t used = 0;
  auto r = run(*program, context_of({{"a", "1"}, {"b", "5"}}), 100, &used);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(used, 9u);
}

struct JsonCase {
  const char* json;
  const char* expected;
};

TEST(EndToEndTest, ProgramsFromJson) {
  const JsonCase cases[] = {
      {R"([{"PushConst":"1"},{"PushConst":"2"},"Add"])", "3"},
      {"[]", "error: Runtime error: Invalid stack size at end: 0"},
      {R"([{"PushConst":"1"},{"PushConst":"2"}])", "error: Runtime error: Invalid stack size at end: 2"},
      {R"([{"Jump":99},{"PushConst":"1"}])", "error: Runtime error: Invalid stack size at end: 0"},
      {R"([{"PushConst":1},{"Jump":3},"Neg"])", "1"},
      {R"([{"PushConst":1},{"Jump":2},"Neg"])", "-1"},
      {R"([{"Add":null},{"PushConst":1}])", "error: Stack underflow: not enough values on stack"},
      {R"([{"PushConst":2.50},{"LoadVar":{"Uuid":"123E4567E89B12D3A456426614174000"}},"Mul"])", "10.0000"},
      {R"([{"LoadVar":{"Uuid":"{123e4567-e89b-12d3-a456-426614174000}"}}])", "4.000"},
      {R"([{"LoadVar":{"Uuid":"urn:uuid:00000000-0000-0000-0000-000000000000"}}])",
       "error: Variable not found: {00000000-0000-0000-0000-000000000000}"},
      {R"([{"Call":["nope",0]}])", "error: Function not found: nope"},
      {R"([{"PushConst":"1.50e1"},{"Call":["abs",1]}])", "15.0"},
  };
  const VmContext ctx = context_of({{"{123e4567-e89b-12d3-a456-426614174000}", "4.000"}});
  for (const JsonCase& c : cases) {
    SCOPED_TRACE(c.json);
    auto program = read_json(c.json);
    ASSERT_TRUE(program.ok()) << program.error();
    EXPECT_EQ(outcome(run(*program, ctx, std::nullopt)), c.expected);
  }
}

// ------------------------------------------------------------------ round trip

class ExpressionGenerator {
 public:
  explicit ExpressionGenerator(uint64_t seed) : rng_(seed) {}

  std::string expression(int depth) {
    if (depth == 0 || pick(10) < 3) return leaf();
    std::string out;
    switch (pick(7)) {
      case 0:
      case 1: {
        static const char* OPS[] = {" + ", " - ", " * ", " / ", " // ", " % ", " ^ ", " == ", " != ", " < ",
                                    " <= ", " > ", " >= ", " and ", " or "};
        append(out, {"(", expression(depth - 1), ")", OPS[pick(15)], "(", expression(depth - 1), ")"});
        break;
      }
      case 2: {
        static const char* OPS[] = {"-", "+", "not "};
        append(out, {OPS[pick(3)], "(", expression(depth - 1), ")"});
        break;
      }
      case 3:
        append(out, {"(", expression(depth - 1), ") ? (", expression(depth - 1), ") : (", expression(depth - 1), ")"});
        break;
      case 4: {
        static const char* FUNCS[] = {"max", "min", "sum", "average", "mul", "add", "abs", "nope"};
        const std::string_view f = FUNCS[pick(8)];
        const size_t n = f == "abs" ? 1 : pick(4);
        append(out, {f, "("});
        for (size_t i = 0; i < n; ++i) append(out, {i > 0 ? ", " : "", expression(depth - 1)});
        out += ")";
        break;
      }
      default:
        append(out, {"(", expression(depth - 1), ") + ", leaf()});
    }
    return out;
  }

 private:
  uint64_t pick(uint64_t n) { return rng_() % n; }
  static void append(std::string& out, std::initializer_list<std::string_view> parts) {
    for (std::string_view p : parts) out += p;
  }

  std::string leaf() {
    static const char* LEAVES[] = {"a", "b", "c", "missing", "{123e4567-e89b-12d3-a456-426614174000}",
                                   "0",   "1", "2.50", "0.000", "(-3)",  "1e2",
                                   "7.0000000000000000000000000001", "(-0.5)", "79228162514264337593543950335"};
    return LEAVES[pick(std::size(LEAVES))];
  }

  std::mt19937_64 rng_;
};

TEST(EndToEndTest, RandomExpressionsSurviveTheJsonRoundTrip) {
  ExpressionGenerator gen(7);
  const VmContext ctx = context_of({{"a", "1.5"}, {"b", "-2"}, {"c", "0"}, {"{123e4567-e89b-12d3-a456-426614174000}", "3.25"}});
  int compiled = 0;
  for (int i = 0; i < 2000; ++i) {
    const std::string text = gen.expression(6);
    SCOPED_TRACE(text);
    auto program = compile_str(text, 1024);
    ASSERT_TRUE(program.ok()) << program.error();
    ++compiled;
    const std::string json = write_json(*program);
    auto back = read_json(json);
    ASSERT_TRUE(back.ok()) << back.error();
    ASSERT_TRUE(programs_equal(*program, *back)) << json;
    for (size_t k = 0; k < program->size(); ++k) {
      if ((*program)[k].kind() == OpKind::PushConst) {
        EXPECT_TRUE((*program)[k].constant().same_repr((*back)[k].constant())) << json;
      }
    }
    EXPECT_EQ(write_json(*back), json);
    uint64_t used_a = 0, used_b = 0;
    const auto a = run(*program, ctx, 100000, &used_a);
    const auto b = run(*back, ctx, 100000, &used_b);
    EXPECT_EQ(outcome(a), outcome(b));
    EXPECT_EQ(used_a, used_b);
  }
  EXPECT_EQ(compiled, 2000);
}

}  // namespace
}  // namespace vexlor
