#include "vm/errors.hpp"

namespace vexlor {

std::string VmError::to_string() const {
  switch (kind_) {
    case Kind::RuntimeError:
      return "Runtime error: " + text_;
    case Kind::StackUnderflow:
      return "Stack underflow: not enough values on stack";
    case Kind::DivisionByZero:
      return "Division by zero";
    case Kind::InvalidArgumentCount:
      return "Invalid argument count: expected " + std::to_string(a_) + ", got " + std::to_string(b_);
    case Kind::VariableNotFound:
      return "Variable not found: " + text_;
    case Kind::FunctionNotFound:
      return "Function not found: " + text_;
    case Kind::InvalidDecimalConversion:
      return "Invalid Decimal conversion: " + text_;
    case Kind::Overflow:
      return "Overflow: " + text_;
    case Kind::OutOfGas:
      return "Out of gas: instruction cost " + std::to_string(b_) + " exceeds remaining " + std::to_string(c_) +
             " (limit " + std::to_string(a_) + ")";
    case Kind::Cancelled:
      return "Cancelled";
  }
  return {};
}

}  // namespace vexlor
