#include "vm/functions.hpp"

#include "vm/small_arith.hpp"
#include "vm/values.hpp"

#include <cstdint>
#include <string>

namespace vexlor::builtin {
namespace {

constexpr const char* ADD_OVERFLOW = "Addition overflow: result out of Decimal range";
constexpr const char* MUL_OVERFLOW = "Multiplication overflow: result out of Decimal range";
constexpr const char* DIV_OVERFLOW = "Division overflow: result out of Decimal range";

[[gnu::cold]] bool count_error(Error& error, size_t got) {
  error = VmError::invalid_argument_count(1, got);
  return false;
}
[[gnu::cold]] bool overflow_error(Error& error, const char* message) {
  error = VmError::overflow(message);
  return false;
}

// Sum from a zero of scale 0, first to last; false on overflow. Adding a zero
// gives the other operand unchanged, so the sum starts from the first argument.
bool fold_sum(Args args, Decimal& out) {
  if (args.empty()) {
    out = Decimal();
    return true;
  }
  Decimal acc = args[0];
  for (size_t i = 1; i < args.size(); ++i) {
    Decimal next;
    if (small::add(acc, args[i], false, next)) {
      acc = next;
      continue;
    }
    const ArithResult r = add_impl(acc, args[i]);
    if (!r.is_ok()) return false;
    acc = fresh_copy(r.value);
  }
  out = acc;
  return true;
}

}  // namespace

bool checked_fold(Args args, Decimal& out, Error& error) {
  Decimal total;
  if (!fold_sum(args, total)) return overflow_error(error, ADD_OVERFLOW);
  out = total;
  return true;
}

bool sum(Args args, Decimal& out, Error& error) { return checked_fold(args, out, error); }

bool multiply(Args args, Decimal& out, Error& error) {
  Decimal acc = Decimal::one();
  for (const Decimal& a : args) {
    Decimal next;
    if (small::mul(acc, a, next)) {
      acc = next;
      continue;
    }
    const ArithResult r = mul_impl(acc, a);
    if (!r.is_ok()) return overflow_error(error, MUL_OVERFLOW);
    acc = fresh_copy(r.value);
  }
  out = acc;
  return true;
}

bool max(Args args, Decimal& out, Error& error) {
  if (args.empty()) return count_error(error, 0);
  const Decimal* choice = &args[0];
  for (size_t i = 1; i < args.size(); ++i) {
    if (small::cmp(*choice, args[i]) <= 0) choice = &args[i];  // the last of equal maxima
  }
  out = *choice;
  return true;
}

bool min(Args args, Decimal& out, Error& error) {
  if (args.empty()) return count_error(error, 0);
  const Decimal* choice = &args[0];
  for (size_t i = 1; i < args.size(); ++i) {
    if (small::cmp(*choice, args[i]) > 0) choice = &args[i];  // the first of equal minima
  }
  out = *choice;
  return true;
}

bool round(Args args, Decimal& out, Error& error) {
  if (args.size() == 1) {
    out = args[0].round();
    return true;
  }
  if (args.size() != 2) return count_error(error, args.size());
  const std::optional<uint64_t> places = args[1].to_u64();
  if (!places || *places > UINT32_MAX) {
    error = VmError::invalid_decimal_conversion("Cannot convert " + args[1].to_string() + " to u32");
    return false;
  }
  out = args[0].round_dp(static_cast<uint32_t>(*places));
  return true;
}

bool sqrt(Args args, Decimal& out, Error& error) {
  if (args.size() != 1) return count_error(error, args.size());
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

bool abs(Args args, Decimal& out, Error& error) {
  if (args.size() != 1) return count_error(error, args.size());
  out = args[0].abs();
  return true;
}

bool floor(Args args, Decimal& out, Error& error) {
  if (args.size() != 1) return count_error(error, args.size());
  out = args[0].floor();
  return true;
}

bool ceil(Args args, Decimal& out, Error& error) {
  if (args.size() != 1) return count_error(error, args.size());
  out = args[0].ceil();
  return true;
}

bool average(Args args, Decimal& out, Error& error) {
  if (args.empty()) return count_error(error, 0);
  Decimal total;
  if (!fold_sum(args, total)) return overflow_error(error, ADD_OVERFLOW);
  const ArithResult r = div_impl(total, Decimal::from_parts(args.size(), 0, 0, false));
  if (!r.is_ok()) return overflow_error(error, DIV_OVERFLOW);
  out = fresh_copy(r.value);
  return true;
}

}  // namespace vexlor::builtin
