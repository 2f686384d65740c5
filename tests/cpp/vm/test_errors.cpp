#include <gtest/gtest.h>

#include "vm/vm.hpp"

namespace vexlor {
namespace {

TEST(VmErrorTest, TextForms) {
  struct Case {
    VmError error;
    const char* text;
  };
  const Case cases[] = {
      {VmError::runtime_error("Invalid stack size at end: 0"), "Runtime error: Invalid stack size at end: 0"},
      {VmError::stack_underflow(), "Stack underflow: not enough values on stack"},
      {VmError::division_by_zero(), "Division by zero"},
      {VmError::invalid_argument_count(1, 3), "Invalid argument count: expected 1, got 3"},
      {VmError::variable_not_found("x"), "Variable not found: x"},
      {VmError::function_not_found("Max"), "Function not found: Max"},
      {VmError::invalid_decimal_conversion("Cannot convert -1 to u32"),
       "Invalid Decimal conversion: Cannot convert -1 to u32"},
      {VmError::overflow("Addition overflow: result out of Decimal range"),
       "Overflow: Addition overflow: result out of Decimal range"},
      {VmError::out_of_gas(100, 3, 2), "Out of gas: instruction cost 3 exceeds remaining 2 (limit 100)"},
      {VmError::out_of_gas(18446744073709551615ULL, 18446744073709551615ULL, 18446744073709551613ULL),
       "Out of gas: instruction cost 18446744073709551615 exceeds remaining 18446744073709551613 "
       "(limit 18446744073709551615)"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.error.to_string(), c.text);
}

TEST(VmErrorTest, KindsAndFields) {
  EXPECT_EQ(static_cast<int>(VmError::Kind::RuntimeError), 0);
  EXPECT_EQ(static_cast<int>(VmError::Kind::OutOfGas), 8);
  const VmError gas = VmError::out_of_gas(10, 4, 3);
  EXPECT_EQ(gas.kind(), VmError::Kind::OutOfGas);
  EXPECT_EQ(gas.limit(), 10u);
  EXPECT_EQ(gas.cost(), 4u);
  EXPECT_EQ(gas.remaining(), 3u);
  const VmError count = VmError::invalid_argument_count(1, 0);
  EXPECT_EQ(count.expected(), 1u);
  EXPECT_EQ(count.got(), 0u);
  EXPECT_EQ(VmError::overflow("m").message(), "m");
  EXPECT_EQ(VmError::variable_not_found("v").name(), "v");
}

}  // namespace
}  // namespace vexlor
