#pragma once
// Every way a run can fail: one value of the closed type VmError.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace vexlor {

class VmError {
 public:
  enum class Kind : uint8_t {
    RuntimeError,
    StackUnderflow,
    DivisionByZero,
    InvalidArgumentCount,
    VariableNotFound,
    FunctionNotFound,
    InvalidDecimalConversion,
    Overflow,
    OutOfGas,
    Cancelled,  // the context's cancel flag was seen set; only callers that set one get it
  };

  static VmError runtime_error(std::string message) { return VmError(Kind::RuntimeError, std::move(message)); }
  static VmError stack_underflow() { return VmError(Kind::StackUnderflow, {}); }
  static VmError division_by_zero() { return VmError(Kind::DivisionByZero, {}); }
  static VmError invalid_argument_count(size_t expected, size_t got) {
    return VmError(Kind::InvalidArgumentCount, {}, expected, got);
  }
  static VmError variable_not_found(std::string name) { return VmError(Kind::VariableNotFound, std::move(name)); }
  static VmError function_not_found(std::string name) { return VmError(Kind::FunctionNotFound, std::move(name)); }
  static VmError invalid_decimal_conversion(std::string message) {
    return VmError(Kind::InvalidDecimalConversion, std::move(message));
  }
  static VmError overflow(std::string message) { return VmError(Kind::Overflow, std::move(message)); }
  static VmError cancelled() { return VmError(Kind::Cancelled, {}); }
  static VmError out_of_gas(uint64_t limit, uint64_t cost, uint64_t remaining) {
    return VmError(Kind::OutOfGas, {}, limit, cost, remaining);
  }

  Kind kind() const { return kind_; }
  // The text field: message (RuntimeError, InvalidDecimalConversion, Overflow) or
  // name (VariableNotFound, FunctionNotFound); empty for the other kinds.
  const std::string& message() const { return text_; }
  const std::string& name() const { return text_; }
  size_t expected() const { return static_cast<size_t>(a_); }  // InvalidArgumentCount
  size_t got() const { return static_cast<size_t>(b_); }       // InvalidArgumentCount
  uint64_t limit() const { return a_; }                         // OutOfGas
  uint64_t cost() const { return b_; }                          // OutOfGas
  uint64_t remaining() const { return c_; }                     // OutOfGas

  // The text form, e.g. "Division by zero" or "Overflow: Addition overflow: ...".
  std::string to_string() const;

  bool operator==(const VmError&) const = default;

 private:
  VmError(Kind kind, std::string text, uint64_t a = 0, uint64_t b = 0, uint64_t c = 0)
      : kind_(kind), a_(a), b_(b), c_(c), text_(std::move(text)) {}
  Kind kind_;
  uint64_t a_, b_, c_;
  std::string text_;
};

}  // namespace vexlor
