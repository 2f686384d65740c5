#include "vm/functions.hpp"

#include <cstdint>
#include <string>

#include "vm/builtins.hpp"
#include "vm/values.hpp"

namespace vexlor::builtin {
namespace {

// A built-in's answer in the table's calling convention.
inline bool answer(Fault fault, Args args, Error& error) {
  if (fault == Fault::None) [[likely]]
    return true;
  error = builtin_error(fault, args);
  return false;
}

}  // namespace

VmError builtin_error(Fault fault, std::span<const Decimal> args) {
  switch (fault) {
    case Fault::ArgumentCount:
      return VmError::invalid_argument_count(1, args.size());
    case Fault::AddOverflow:
      return VmError::overflow("Addition overflow: result out of Decimal range");
    case Fault::MulOverflow:
      return VmError::overflow("Multiplication overflow: result out of Decimal range");
    case Fault::DivOverflow:
      return VmError::overflow("Division overflow: result out of Decimal range");
    case Fault::PlacesConversion:
    case Fault::None:
      break;
  }
  return VmError::invalid_decimal_conversion("Cannot convert " + args[1].to_string() + " to u32");
}

bool checked_fold(Args args, Decimal& out, Error& error) {
  return answer(sum_of(args.data(), args.size(), out), args, error);
}
bool sum(Args args, Decimal& out, Error& error) { return checked_fold(args, out, error); }
bool multiply(Args args, Decimal& out, Error& error) {
  return answer(product_of(args.data(), args.size(), out), args, error);
}
bool max(Args args, Decimal& out, Error& error) { return answer(max_of(args.data(), args.size(), out), args, error); }
bool min(Args args, Decimal& out, Error& error) { return answer(min_of(args.data(), args.size(), out), args, error); }
bool round(Args args, Decimal& out, Error& error) {
  return answer(round_of(args.data(), args.size(), out), args, error);
}
bool abs(Args args, Decimal& out, Error& error) { return answer(abs_of(args.data(), args.size(), out), args, error); }
bool floor(Args args, Decimal& out, Error& error) {
  return answer(floor_of(args.data(), args.size(), out), args, error);
}
bool ceil(Args args, Decimal& out, Error& error) { return answer(ceil_of(args.data(), args.size(), out), args, error); }
bool average(Args args, Decimal& out, Error& error) {
  return answer(average_of(args.data(), args.size(), out), args, error);
}

bool sqrt(Args args, Decimal& out, Error& error) {
  if (args.size() != 1) {
    error = VmError::invalid_argument_count(1, args.size());
    return false;
  }
  const Decimal& x = args[0];
  if (!x.is_sign_negative()) {
    const MathResult r = vexlor::sqrt(x);
    if (r.is_ok()) {
      out = fresh_copy(r.value);
      return true;
    }
    if (r.status == MathResult::Status::Fault) {
      error = VmError::runtime_error(r.fault);
      return false;
    }
  }
  error = VmError::runtime_error("Cannot calculate square root of negative number: " + x.to_string());
  return false;
}

}  // namespace vexlor::builtin
