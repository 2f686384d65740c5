#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "vm_test_util.hpp"

namespace vexlor {
namespace {

using test::D;

// Calls a built-in through a program, as the loop does: pushes the arguments, then Call.
std::string call(std::string_view name, std::vector<std::string_view> args) {
  Program p;
  for (auto a : args) p.push_back(test::C(a));
  p.push_back(OpCode::call(std::string(name), args.size()));
  const VmContext ctx;
  return test::outcome(run(p, ctx, std::nullopt));
}

TEST(BuiltinTest, TableHoldsElevenNames) {
  const FunctionTable& t = default_functions();
  EXPECT_EQ(t.size(), 11u);
  for (const char* name : {"add", "mul", "max", "round", "sqrt", "min", "abs", "floor", "ceil", "sum", "average"}) {
    EXPECT_NE(t.find(name), nullptr) << name;
    EXPECT_EQ(t.find_slot(function_slot(name)), t.find(name)) << name;
  }
  for (const char* name : {"Max", "multiply", "pow", "", "avg"}) EXPECT_EQ(t.find(name), nullptr) << name;
  EXPECT_EQ(&default_functions(), &t);
}

TEST(BuiltinTest, TableBuiltOnceAcrossThreads) {
  std::vector<const FunctionTable*> seen(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = &default_functions(); });
  for (auto& t : threads) t.join();
  for (const auto* p : seen) EXPECT_EQ(p, &default_functions());
}

struct Case {
  const char* name;
  std::vector<std::string_view> args;
  const char* expected;
};

TEST(BuiltinTest, Results) {
  const Case cases[] = {
      {"add", {}, "ok:0"},
      {"sum", {}, "ok:0"},
      {"mul", {}, "ok:1"},
      {"add", {"1.50"}, "ok:1.50"},
      {"add", {"1", "2.5", "-0.25"}, "ok:3.25"},
      {"sum", {"1", "2.5", "-0.25"}, "ok:3.25"},
      {"mul", {"2", "1.50"}, "ok:3.00"},
      {"mul", {"1.50"}, "ok:1.50"},
      {"mul", {"0", "1.50"}, "ok:0"},
      {"max", {"1", "1.0"}, "ok:1.0"},
      {"max", {"1.0", "1"}, "ok:1"},
      {"min", {"1", "1.0"}, "ok:1"},
      {"min", {"1.0", "1"}, "ok:1.0"},
      {"max", {"2", "1.50", "2.00"}, "ok:2.00"},
      {"max", {"-3"}, "ok:-3"},
      {"min", {"5", "-2", "7", "-2.0"}, "ok:-2"},
      {"round", {"2.675", "2"}, "ok:2.68"},
      {"round", {"1.245", "2"}, "ok:1.24"},
      {"round", {"1.5", "2.9"}, "ok:1.5"},
      {"round", {"2.5"}, "ok:2"},
      {"round", {"3.5"}, "ok:4"},
      {"round", {"-0.5"}, "ok:0"},
      {"round", {"2.5", "0.9"}, "ok:2"},
      {"round", {"1.2", "5"}, "ok:1.2"},
      {"round", {"1.23456", "4294967295"}, "ok:1.23456"},
      {"sqrt", {"4"}, "ok:2"},
      {"sqrt", {"2"}, "ok:1.4142135623730950488016887242"},
      {"sqrt", {"0"}, "ok:0"},
      {"abs", {"-1.50"}, "ok:1.50"},
      {"abs", {"2"}, "ok:2"},
      {"floor", {"-1.5"}, "ok:-2"},
      {"floor", {"1.5"}, "ok:1"},
      {"ceil", {"1.2"}, "ok:2"},
      {"ceil", {"-0.5"}, "ok:-0"},
      {"average", {"1", "2"}, "ok:1.50"},
      {"average", {"1.0", "2.0"}, "ok:1.5"},
      {"average", {"1", "2", "3"}, "ok:2"},
      {"average", {"10", "20"}, "ok:15"},
      {"average", {"0.1", "0.2"}, "ok:0.150"},
      {"average", {"2.50", "3.50"}, "ok:3.00"},
      {"average", {"1", "2", "4"}, "ok:2.3333333333333333333333333333"},
      {"average", {"7.5"}, "ok:7.5"},
  };
  for (const Case& c : cases) EXPECT_EQ(call(c.name, c.args), c.expected) << c.name;
}

TEST(BuiltinTest, Errors) {
  const std::string max = "79228162514264337593543950335";
  const Case cases[] = {
      {"max", {}, "err:Invalid argument count: expected 1, got 0"},
      {"min", {}, "err:Invalid argument count: expected 1, got 0"},
      {"average", {}, "err:Invalid argument count: expected 1, got 0"},
      {"round", {}, "err:Invalid argument count: expected 1, got 0"},
      {"round", {"1", "2", "3"}, "err:Invalid argument count: expected 1, got 3"},
      {"abs", {"1", "2"}, "err:Invalid argument count: expected 1, got 2"},
      {"sqrt", {"1", "2"}, "err:Invalid argument count: expected 1, got 2"},
      {"floor", {"1", "2"}, "err:Invalid argument count: expected 1, got 2"},
      {"ceil", {"1", "2"}, "err:Invalid argument count: expected 1, got 2"},
      {"abs", {}, "err:Invalid argument count: expected 1, got 0"},
      {"round", {"1.5", "-1"}, "err:Invalid Decimal conversion: Cannot convert -1 to u32"},
      {"round", {"1.5", "-0.5"}, "err:Invalid Decimal conversion: Cannot convert -0.5 to u32"},
      {"round", {"1.5", "4294967296"}, "err:Invalid Decimal conversion: Cannot convert 4294967296 to u32"},
      {"sqrt", {"-4"}, "err:Runtime error: Cannot calculate square root of negative number: -4"},
      {"sqrt", {"-0.01"}, "err:Runtime error: Cannot calculate square root of negative number: -0.01"},
      {"add", {max, "1"}, "err:Overflow: Addition overflow: result out of Decimal range"},
      {"sum", {max, max}, "err:Overflow: Addition overflow: result out of Decimal range"},
      {"mul", {max, "2"}, "err:Overflow: Multiplication overflow: result out of Decimal range"},
      {"average", {max, max}, "err:Overflow: Addition overflow: result out of Decimal range"},
      {"Max", {"1"}, "err:Function not found: Max"},
      {"multiply", {}, "err:Function not found: multiply"},
  };
  for (const Case& c : cases) EXPECT_EQ(call(c.name, c.args), c.expected) << c.name;
}

TEST(BuiltinTest, SqrtOfNegativeZero) {
  // sqrt(-(0)): the argument is a negated zero.
  const Program p = {test::C("0"), test::K(OpKind::Neg), OpCode::call("sqrt", 1)};
  const VmContext ctx;
  EXPECT_EQ(test::outcome(run(p, ctx, std::nullopt)),
            "err:Runtime error: Cannot calculate square root of negative number: -0");
  // The literal -0 reads as a positive zero.
  EXPECT_EQ(call("sqrt", {"-0"}), "ok:0");
}

TEST(BuiltinTest, DirectCallsSeeArgumentsInOrder) {
  const Decimal args[] = {D("3"), D("1"), D("2")};
  Decimal out;
  std::optional<VmError> error;
  ASSERT_TRUE(default_functions().find("min")(std::span<const Decimal>(args), out, error));
  EXPECT_EQ(out.to_string(), "1");
  ASSERT_TRUE(default_functions().find("add")(std::span<const Decimal>(), out, error));
  EXPECT_EQ(out.to_string(), "0");
  EXPECT_FALSE(default_functions().find("abs")(std::span<const Decimal>(args), out, error));
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->to_string(), "Invalid argument count: expected 1, got 3");
}

}  // namespace
}  // namespace vexlor
