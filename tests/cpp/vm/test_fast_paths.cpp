// The loop's shortcuts against the general code: inline arithmetic for small
// coefficients, the quick variable test, and pushes without bounds tests in
// short programs.

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <string>
#include <vector>

#include "vm/small_arith.hpp"
#include "vm_test_util.hpp"

namespace vexlor {
namespace {

using test::C;
using test::D;
using test::K;
using test::outcome;

class Operands {
 public:
  explicit Operands(uint64_t seed) : rng_(seed) {}

  // Mostly coefficients below 2^64 of every size, some zeros and some wider
  // ones; any scale, either sign.
  Decimal next() {
    const uint32_t scale = pick(4) == 0 ? static_cast<uint32_t>(pick(29)) : static_cast<uint32_t>(pick(6));
    const bool negative = pick(2) == 0;
    uint64_t lo = 0;
    uint32_t hi = 0;
    switch (pick(8)) {
      case 0:
        break;  // zero
      case 1:
        lo = rng_();
        hi = static_cast<uint32_t>(rng_());
        break;
      case 2:
        lo = ~uint64_t{0} - pick(3);
        break;
      default:
        lo = rng_() >> pick(64);
    }
    return Decimal::from_parts(lo, hi, scale, negative);
  }
  uint64_t pick(uint64_t n) { return rng_() % n; }

 private:
  std::mt19937_64 rng_;
};

std::string show(const Decimal& d) {
  return d.to_string() + " (scale " + std::to_string(d.scale()) + (d.is_sign_negative() ? ", negative)" : ")");
}

TEST(SmallArithTest, AgreesWithTheDecimalOperations) {
  Operands gen(20261208);
  size_t taken[4] = {};
  size_t same_flags = 0;  // compared by their coefficients alone
  for (int i = 0; i < 400000; ++i) {
    const Decimal a = gen.next();
    const Decimal b = gen.next();
    Decimal out;
    if (small::add(a, b, false, out)) {
      ++taken[0];
      const ArithResult r = add_impl(a, b);
      ASSERT_TRUE(r.is_ok());
      ASSERT_TRUE(out.same_repr(r.value)) << show(a) << " + " << show(b) << ": " << show(out);
    }
    if (small::add(a, b, true, out)) {
      ++taken[1];
      const ArithResult r = sub_impl(a, b);
      ASSERT_TRUE(r.is_ok());
      ASSERT_TRUE(out.same_repr(r.value)) << show(a) << " - " << show(b) << ": " << show(out);
    }
    if (small::mul(a, b, out)) {
      ++taken[2];
      const ArithResult r = mul_impl(a, b);
      ASSERT_TRUE(r.is_ok());
      ASSERT_TRUE(out.same_repr(r.value)) << show(a) << " * " << show(b) << ": " << show(out);
    }
    if (a.flags() != b.flags()) ++taken[3];
    if (a.flags() == b.flags() && (a.hi() | b.hi()) == 0) ++same_flags;
    ASSERT_EQ(small::cmp(a, b), a.cmp(b)) << show(a) << " <=> " << show(b);
    ASSERT_EQ(small::cmp(a, a), std::strong_ordering::equal);
  }
  // Each shortcut is taken often enough for the comparison to mean something.
  for (const size_t n : taken) EXPECT_GT(n, 40000u);
  EXPECT_GT(same_flags, 5000u);
}

TEST(SmallArithTest, EdgesOfTheShortcuts) {
  struct Case {
    const char *a, *b;
  };
  const Case cases[] = {
      {"18446744073709551615", "1"},         // the sum leaves 64 bits
      {"18446744073709551615", "-1"},        // it does not
      {"1.5", "-1.50"},                      // zero difference: positive zero at the larger scale
      {"-1.5", "1.50"},                      //
      {"-0.0", "1.5"},                       // zero operands keep their own rules
      {"1.5", "-0.00"},                      //
      {"1844674407370955161.5", "0.01"},     // rescaling leaves 64 bits
      {"1", "0.0000000000000000001"},        // 19 digits of rescaling
      {"1", "0.00000000000000000001"},       // 20
      {"4294967296", "4294967296"},          // the product leaves 64 bits
      {"0.00000000000001", "0.000000000000001"},  // scales add to 29
      {"-3", "3"},
      {"-3", "-5"},                          // same sign and scale: the coefficients decide
      {"-0", "-5"},                          //
      {"0.00", "0.01"},                      //
      {"-0", "0"},                           // zeros of both signs are equal
      {"79228162514264337593543950335", "1"},  // wider than 64 bits
  };
  for (const Case& c : cases) {
    const Decimal a = D(c.a), b = D(c.b);
    for (const bool swap : {false, true}) {
      const Decimal& x = swap ? b : a;
      const Decimal& y = swap ? a : b;
      Decimal out;
      if (small::add(x, y, false, out)) {
        EXPECT_TRUE(out.same_repr(add_impl(x, y).value)) << c.a << " + " << c.b;
      }
      if (small::add(x, y, true, out)) {
        EXPECT_TRUE(out.same_repr(sub_impl(x, y).value)) << c.a << " - " << c.b;
      }
      if (small::mul(x, y, out)) {
        EXPECT_TRUE(out.same_repr(mul_impl(x, y).value)) << c.a << " * " << c.b;
      }
      EXPECT_EQ(small::cmp(x, y), x.cmp(y)) << c.a << " <=> " << c.b;
    }
  }
  // Through the machine, overflow still reports as before.
  const VmContext ctx;
  EXPECT_EQ(outcome(run(Program{C("79228162514264337593543950335"), C("1"), K(OpKind::Add)}, ctx, std::nullopt)),
            "err:Overflow: Addition overflow: result out of Decimal range");
  EXPECT_EQ(outcome(run(Program{C("1.5"), C("-1.50"), K(OpKind::Add)}, ctx, std::nullopt)), "ok:0.00");
  EXPECT_EQ(outcome(run(Program{C("-1.5"), C("-1.50"), K(OpKind::Sub)}, ctx, std::nullopt)), "ok:0.00");
}

// Every comparison operator through the machine, alone (it pushes 1 or 0) and
// followed by JumpIfFalse (the fused step), against the decimal order.
TEST(SmallArithTest, ComparisonsThroughTheMachine) {
  struct Op {
    OpKind kind;
    bool (*holds)(std::strong_ordering);
  };
  const Op ops[] = {
      {OpKind::Eq, [](std::strong_ordering c) { return c == 0; }},
      {OpKind::Ne, [](std::strong_ordering c) { return c != 0; }},
      {OpKind::Lt, [](std::strong_ordering c) { return c < 0; }},
      {OpKind::Le, [](std::strong_ordering c) { return c <= 0; }},
      {OpKind::Gt, [](std::strong_ordering c) { return c > 0; }},
      {OpKind::Ge, [](std::strong_ordering c) { return c >= 0; }},
  };
  Operands gen(7);
  const VmContext ctx;
  for (int i = 0; i < 20000; ++i) {
    const Decimal a = gen.next();
    const Decimal b = gen.pick(8) == 0 ? a : gen.next();
    const std::strong_ordering order = a.cmp(b);
    for (const Op& op : ops) {
      const std::string want = op.holds(order) ? "ok:1" : "ok:0";
      const Program alone{OpCode::push_const(a), OpCode::push_const(b), K(op.kind)};
      ASSERT_EQ(outcome(run(alone, ctx, std::nullopt)), want) << show(a) << " " << op_name(op.kind) << " " << show(b);
      const Program fused{OpCode::push_const(a), OpCode::push_const(b), K(op.kind), OpCode::jump_if_false(6),
                          C("1"), OpCode::jump(7), C("0")};
      ASSERT_EQ(outcome(run(fused, ctx, uint64_t{100})), want) << show(a) << " " << op_name(op.kind) << " " << show(b);
    }
  }
}

// Keys the quick test must tell apart: names around the 16 bytes kept whole,
// long names sharing their first 16 bytes, a UUID whose bytes spell a name.
std::vector<VarId> tricky_keys() {
  std::vector<VarId> keys;
  for (const size_t len : {0, 1, 7, 8, 9, 15, 16, 17, 24, 40}) keys.push_back(VarId::name(std::string(len, 'k')));
  keys.push_back(VarId::name("abcdefghijklmnopQ"));
  keys.push_back(VarId::name("abcdefghijklmnopR"));
  keys.push_back(VarId::name("abcdefghijklmnop"));
  UuidBytes spelled{};
  for (size_t i = 0; i < 16; ++i) spelled[i] = static_cast<uint8_t>("abcdefghijklmnop"[i]);
  keys.push_back(VarId::uuid(spelled));
  keys.push_back(VarId::name(std::string("k\0k", 3)));
  return keys;
}

TEST(LoadVarTest, EveryKeyFindsItsOwnValue) {
  const std::vector<VarId> keys = tricky_keys();
  // Every count from one key up to all of them, past the size of a small map,
  // and every key absent from the smaller maps.
  for (size_t count = 1; count <= keys.size(); ++count) {
    VmContext ctx;
    for (size_t i = 0; i < count; ++i) ctx.variables.insert_or_assign(keys[i], D(std::to_string(i)));
    for (size_t i = 0; i < keys.size(); ++i) {
      const auto r = run(Program{OpCode::load_var(keys[i])}, ctx, std::nullopt);
      if (i < count) {
        EXPECT_EQ(outcome(r), "ok:" + std::to_string(i)) << count << " " << keys[i].display();
      } else {
        EXPECT_EQ(outcome(r), "err:Variable not found: " + keys[i].display()) << count;
      }
    }
  }
}

TEST(LoadVarTest, LargeMapsAfterMoves) {
  VariableMap m;
  for (int i = 0; i < 30; ++i) m.insert_or_assign(VarId::name("var" + std::to_string(i)), D(std::to_string(i)));
  VmContext ctx;
  ctx.variables = std::move(m);
  for (int i = 0; i < 30; ++i) {
    const auto r = run(Program{OpCode::load_var(VarId::name("var" + std::to_string(i)))}, ctx, std::nullopt);
    EXPECT_EQ(outcome(r), "ok:" + std::to_string(i));
  }
  EXPECT_FALSE(run(Program{OpCode::load_var(VarId::name("var30"))}, ctx, std::nullopt).ok());
  ctx.variables.clear();
  ctx.variables.insert_or_assign(VarId::name("var3"), D("7"));
  EXPECT_EQ(outcome(run(Program{OpCode::load_var(VarId::name("var3"))}, ctx, std::nullopt)), "ok:7");
  EXPECT_FALSE(run(Program{OpCode::load_var(VarId::name("var4"))}, ctx, std::nullopt).ok());
}

// Keys inserted from their text behave as the same keys built as VarIds: found by
// either, a later insertion of either kind replaces the value, UUIDs stay apart.
TEST(LoadVarTest, KeysInsertedByName) {
  const std::string names[] = {"a", "b", "price_1", "sixteen_chars_ab", "seventeen_chars_a", "x_a_long_variable_name"};
  VmContext ctx;
  int n = 0;
  for (const std::string& name : names) ctx.variables.insert_or_assign_name(name, D(std::to_string(++n)));
  ctx.variables.insert_or_assign(VarId::name("b"), D("20"));
  ctx.variables.insert_or_assign_name("x_a_long_variable_name", D("60"));
  ctx.variables.insert_or_assign_name("a", D("10"));
  ctx.variables.insert_or_assign(VarId::uuid(UuidBytes{'a'}), D("99"));
  EXPECT_EQ(ctx.variables.size(), 7u);
  const char* expected[] = {"10", "20", "3", "4", "5", "60"};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(outcome(run(Program{OpCode::load_var(VarId::name(names[i]))}, ctx, std::nullopt)),
              std::string("ok:") + expected[i])
        << names[i];
    ASSERT_NE(ctx.variables.find(VarId::name(names[i])), nullptr);
  }
  EXPECT_EQ(ctx.variables.find(VarId::name("seventeen_chars_b")), nullptr);
  for (int i = 0; i < 20; ++i) ctx.variables.insert_or_assign_name("v" + std::to_string(i), D(std::to_string(i)));
  ctx.variables.insert_or_assign_name("v7", D("77"));
  EXPECT_EQ(outcome(run(Program{OpCode::load_var(VarId::name("v7"))}, ctx, std::nullopt)), "ok:77");
  EXPECT_EQ(ctx.variables.size(), 27u);
}

// Short programs push without bounds tests until their first backward jump;
// after it the stack grows as usual. Around the limit of 64 instructions.
TEST(ShortProgramTest, StackAroundTheInlineLimit) {
  const VmContext ctx;
  for (const int pushes : {1, 32, 33, 63, 64, 65, 200}) {
    Program p;
    for (int i = 0; i < pushes; ++i) p.push_back(C("1"));
    for (int i = 1; i < pushes; ++i) p.push_back(K(OpKind::Add));
    EXPECT_EQ(outcome(run(p, ctx, std::nullopt)), "ok:" + std::to_string(pushes));
    Program call;
    for (int i = 0; i < pushes; ++i) call.push_back(C("2"));
    call.push_back(OpCode::call("sum", static_cast<size_t>(pushes)));
    EXPECT_EQ(outcome(run(call, ctx, uint64_t{1000})), "ok:" + std::to_string(2 * pushes));
  }
  // A two-instruction loop that pushes until the loop guard stops it: the stack
  // leaves the inline buffer inside the guarded loop.
  const auto r = run(Program{C("1"), OpCode::jump(0)}, ctx, std::nullopt);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().message(), LOOP_LIMIT_MESSAGE);
  uint64_t used = 0;
  const auto g = run(Program{C("1"), C("1"), K(OpKind::Add), OpCode::jump(1)}, ctx, uint64_t{5000}, &used);
  ASSERT_FALSE(g.ok());
  EXPECT_EQ(g.error().kind(), VmError::Kind::OutOfGas);
  EXPECT_EQ(used, 5000u - g.error().remaining());
}

// A program run under each limit: its outcome and the gas it used.
struct GasCase {
  uint64_t gas;
  const char* expected;
  uint64_t used;
};
template <size_t N>
void expect_gas_cases(const Program& p, const VmContext& ctx, const GasCase (&cases)[N]) {
  for (const GasCase& c : cases) {
    uint64_t used = 0;
    EXPECT_EQ(outcome(run(p, ctx, c.gas, &used)), c.expected) << c.gas;
    EXPECT_EQ(used, c.used) << c.gas;
  }
}

// A comparison and the JumpIfFalse after it run as one step; the jump keeps its
// own gas charge, and a comparison anywhere else pushes its result.
TEST(CompareJumpTest, GasAndResultsAsSeparateSteps) {
  const VmContext ctx;
  const Program p{C("1"), C("2"), K(OpKind::Lt), OpCode::jump_if_false(6), C("7"), OpCode::jump(7), C("8")};
  const GasCase cases[] = {
      {100, "ok:7", 6},
      {6, "ok:7", 6},
      {5, "err:Out of gas: instruction cost 1 exceeds remaining 0 (limit 5)", 5},
      {3, "err:Out of gas: instruction cost 1 exceeds remaining 0 (limit 3)", 3},
      {2, "err:Out of gas: instruction cost 1 exceeds remaining 0 (limit 2)", 2},
  };
  expect_gas_cases(p, ctx, cases);
  EXPECT_EQ(outcome(run(Program{C("2"), C("1"), K(OpKind::Lt), OpCode::jump_if_false(9)}, ctx, std::nullopt)),
            "err:Runtime error: Invalid stack size at end: 0");
  EXPECT_EQ(outcome(run(Program{C("2"), C("1"), K(OpKind::Ge)}, ctx, std::nullopt)), "ok:1");
  EXPECT_EQ(outcome(run(Program{C("2"), C("1"), K(OpKind::Ge), K(OpKind::Not)}, ctx, std::nullopt)), "ok:0");
  // A false comparison jumping backwards hands over to the loop guard.
  const auto loop = run(Program{C("1"), C("2"), K(OpKind::Gt), OpCode::jump_if_false(0)}, ctx, std::nullopt);
  ASSERT_FALSE(loop.ok());
  EXPECT_EQ(loop.error().message(), LOOP_LIMIT_MESSAGE);
}

// A set cancel flag stops a loop at a backward jump, under every limit; a clear
// one changes nothing.
TEST(LoopGuardTest, CancelFlagStopsLoops) {
  const Program loops[] = {Program{C("1"), OpCode::jump(0)},
                           Program{C("1"), C("2"), K(OpKind::Gt), OpCode::jump_if_false(0)}};
  for (const bool set : {true, false}) {
    std::atomic<bool> flag{set};
    VmContext ctx;
    ctx.cancel = &flag;
    for (const Program& p : loops) {
      for (const auto gas : {std::optional<uint64_t>{}, std::optional<uint64_t>{2},
                             std::optional<uint64_t>{uint64_t{1} << 40}}) {
        const auto r = run(p, ctx, gas);
        ASSERT_FALSE(r.ok());
        if (set && gas != uint64_t{2}) {
          EXPECT_EQ(r.error().kind(), VmError::Kind::Cancelled);
        } else {
          EXPECT_NE(r.error().kind(), VmError::Kind::Cancelled);
        }
      }
    }
  }
}

// A constant that Add, Sub or Mul takes at once is used in place of a push: the
// same values, errors and gas as the two instructions run one by one.
TEST(ConstArithTest, AsTwoSteps) {
  struct Op {
    OpKind kind;
    ArithResult (*fn)(const Decimal&, const Decimal&);
    const char* word;
  };
  const Op ops[] = {{OpKind::Add, add_impl, "Addition"},
                    {OpKind::Sub, sub_impl, "Subtraction"},
                    {OpKind::Mul, mul_impl, "Multiplication"}};
  Operands gen(99);
  VmContext ctx;
  for (int i = 0; i < 20000; ++i) {
    const Decimal a = gen.next();
    const Decimal k = gen.next();
    ctx.variables.insert_or_assign(VarId::name("a"), a);
    for (const Op& op : ops) {
      const ArithResult r = op.fn(a, k);
      const std::string want = r.is_ok() ? "ok:" + r.value.to_string()
                                         : std::string("err:Overflow: ") + op.word +
                                               " overflow: result out of Decimal range";
      for (const Program& p : {Program{OpCode::push_const(a), OpCode::push_const(k), K(op.kind)},
                               Program{test::V("a"), OpCode::push_const(k), K(op.kind)}}) {
        const auto free = run(p, ctx, std::nullopt);
        ASSERT_EQ(outcome(free), want) << show(a) << " " << op_name(op.kind) << " " << show(k);
        if (free.ok()) {
          ASSERT_TRUE(free.value().same_repr(r.value)) << show(a) << " " << op_name(op.kind);
        }
        uint64_t used = 0;
        ASSERT_EQ(outcome(run(p, ctx, uint64_t{5}, &used)), want);  // tested loop, exact limit
        ASSERT_EQ(used, 5u);
      }
    }
  }
  const Program sub{C("10"), C("0.25"), K(OpKind::Sub)};
  const GasCase cases[] = {
      {100, "ok:9.75", 5},  // counted without tests
      {5, "ok:9.75", 5},
      {4, "err:Out of gas: instruction cost 3 exceeds remaining 2 (limit 4)", 2},
      {2, "err:Out of gas: instruction cost 3 exceeds remaining 0 (limit 2)", 2},
      {1, "err:Out of gas: instruction cost 1 exceeds remaining 0 (limit 1)", 1},
  };
  expect_gas_cases(sub, ctx, cases);
  // Nothing below the constant: it is pushed, and the operation finds one value.
  EXPECT_EQ(outcome(run(Program{C("1"), K(OpKind::Add)}, ctx, std::nullopt)), "err:Stack underflow: not enough values on stack");
  // Inside a loop after a backward jump, under the guard and under a limit.
  const Program loop{C("0"), C("1"), K(OpKind::Add), OpCode::jump(1)};
  const auto guarded = run(loop, ctx, std::nullopt);
  ASSERT_FALSE(guarded.ok());
  EXPECT_EQ(guarded.error().message(), LOOP_LIMIT_MESSAGE);
  uint64_t used = 0;
  const auto limited = run(loop, ctx, uint64_t{1003}, &used);  // 1 + 200 rounds of 5, then 1 for the constant
  ASSERT_FALSE(limited.ok());
  EXPECT_EQ(limited.error().to_string(), "Out of gas: instruction cost 3 exceeds remaining 1 (limit 1003)");
  EXPECT_EQ(used, 1002u);
}

// A limit of at least three per instruction is counted without tests until a Pow
// or a backward jump; the charges and errors are those of the tested loop.
TEST(GasTest, GenerousLimitsChargeAsTightOnes) {
  const VmContext ctx;
  const Program pow{C("2"), C("10"), K(OpKind::Pow)};
  const GasCase cases[] = {
      {100, "ok:1024", 13},
      {13, "ok:1024", 13},
      {12, "err:Out of gas: instruction cost 11 exceeds remaining 10 (limit 12)", 2},
      {9, "err:Out of gas: instruction cost 11 exceeds remaining 7 (limit 9)", 2},   // counted without tests
      {8, "err:Out of gas: instruction cost 11 exceeds remaining 6 (limit 8)", 2},   // tested
      {1, "err:Out of gas: instruction cost 1 exceeds remaining 0 (limit 1)", 1},
  };
  expect_gas_cases(pow, ctx, cases);
  // After a Pow the run goes on with tests, and a later failure reports the same.
  uint64_t used = 0;
  const Program after{C("2"), C("2"), K(OpKind::Pow), C("1"), K(OpKind::Add), C("0"), K(OpKind::Div)};
  EXPECT_EQ(outcome(run(after, ctx, uint64_t{1000}, &used)), "err:Division by zero");
  EXPECT_EQ(used, 13u);
  // A loop that pushes until the limit runs out.
  for (const uint64_t gas : {uint64_t{6}, uint64_t{1000}}) {
    const auto r = run(Program{C("1"), OpCode::jump(0)}, ctx, gas, &used);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().kind(), VmError::Kind::OutOfGas);
    EXPECT_EQ(r.error().remaining(), 0u);
    EXPECT_EQ(used, gas);
  }
}

}  // namespace
}  // namespace vexlor
