#include "vm/functions.hpp"

#include <cstdint>
#include <string>

namespace vexlor::builtin {
namespace {

constexpr const char* ADD_OVERFLOW = "Addition overflow: result out of Decimal range";
constexpr const char* MUL_OVERFLOW = "Multiplication overflow: result out of Decimal range";
constexpr const char* DIV_OVERFLOW = "Division overflow: result out of Decimal range";

[[gnu::cold]] Result count_error(size_t got) { return unexpected(VmError::invalid_argument_count(1, got)); }
[[gnu::cold]] Result overflow_error(const char* message) { return unexpected(VmError::overflow(message)); }

// Sum from a zero of scale 0, first to last; false on overflow.
bool fold_sum(Args args, Decimal& out) {
  Decimal acc;
  for (const Decimal& a : args) {
    const ArithResult r = add_impl(acc, a);
    if (!r.is_ok()) return false;
    acc = r.value;
  }
  out = acc;
  return true;
}

}  // namespace

Result checked_fold(Args args) {
  Decimal total;
  if (!fold_sum(args, total)) return overflow_error(ADD_OVERFLOW);
  return total;
}

Result sum(Args args) { return checked_fold(args); }

Result multiply(Args args) {
  Decimal acc = Decimal::one();
  for (const Decimal& a : args) {
    const ArithResult r = mul_impl(acc, a);
    if (!r.is_ok()) return overflow_error(MUL_OVERFLOW);
    acc = r.value;
  }
  return acc;
}

Result max(Args args) {
  if (args.empty()) return count_error(0);
  const Decimal* choice = &args[0];
  for (size_t i = 1; i < args.size(); ++i) {
    if (choice->cmp(args[i]) <= 0) choice = &args[i];  // the last of equal maxima
  }
  return *choice;
}

Result min(Args args) {
  if (args.empty()) return count_error(0);
  const Decimal* choice = &args[0];
  for (size_t i = 1; i < args.size(); ++i) {
    if (choice->cmp(args[i]) > 0) choice = &args[i];  // the first of equal minima
  }
  return *choice;
}

Result round(Args args) {
  if (args.size() == 1) return args[0].round();
  if (args.size() != 2) return count_error(args.size());
  const std::optional<uint64_t> places = args[1].to_u64();
  if (!places || *places > UINT32_MAX) {
    return unexpected(VmError::invalid_decimal_conversion("Cannot convert " + args[1].to_string() + " to u32"));
  }
  return args[0].round_dp(static_cast<uint32_t>(*places));
}

Result sqrt(Args args) {
  if (args.size() != 1) return count_error(args.size());
  const Decimal& x = args[0];
  if (!x.is_sign_negative()) {
    const MathResult r = vexlor::sqrt(x);
    if (r.is_ok()) return r.value;
    if (r.status == MathResult::Status::Fault) return unexpected(VmError::runtime_error(r.fault));
  }
  return unexpected(VmError::runtime_error("Cannot calculate square root of negative number: " + x.to_string()));
}

Result abs(Args args) {
  if (args.size() != 1) return count_error(args.size());
  return args[0].abs();
}

Result floor(Args args) {
  if (args.size() != 1) return count_error(args.size());
  return args[0].floor();
}

Result ceil(Args args) {
  if (args.size() != 1) return count_error(args.size());
  return args[0].ceil();
}

Result average(Args args) {
  if (args.empty()) return count_error(0);
  Decimal total;
  if (!fold_sum(args, total)) return overflow_error(ADD_OVERFLOW);
  const ArithResult r = div_impl(total, Decimal::from_parts(args.size(), 0, 0, false));
  if (!r.is_ok()) return overflow_error(DIV_OVERFLOW);
  return r.value;
}

}  // namespace vexlor::builtin
