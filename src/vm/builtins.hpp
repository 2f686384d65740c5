#pragma once
// The bodies of the cheap built-ins, which the loop calls directly for the
// built-in table (internal to the vm module). Each returns Fault::None and sets
// `out`, or a fault that builtin_error turns into the function's error. sqrt
// stays in functions.cpp. Arguments and partial results are copied field by field
// (fresh_copy): they were often just written in parts, and a whole 16-byte read
// of such a value waits for the writes to complete.

#include <cstddef>
#include <cstdint>
#include <span>

#include "decimal/decimal.hpp"
#include "vm/errors.hpp"
#include "vm/small_arith.hpp"
#include "vm/values.hpp"

namespace vexlor::builtin {

enum class Fault : uint8_t { None, ArgumentCount, AddOverflow, MulOverflow, DivOverflow, PlacesConversion };

// The error of a fault, for the arguments the function was given.
[[gnu::cold, gnu::noinline]] VmError builtin_error(Fault fault, std::span<const Decimal> args);

// Sum from a zero of scale 0, first to last; false on overflow. Adding a zero
// gives the other operand unchanged, so the sum starts from the first argument.
inline bool fold_sum(const Decimal* args, size_t n, Decimal& out) {
  if (n == 0) {
    out = Decimal();
    return true;
  }
  Decimal acc = fresh_copy(args[0]);
  for (size_t i = 1; i < n; ++i) {
    Decimal next;
    if (small::add(acc, args[i], false, next)) {
      acc = next;
      continue;
    }
    const ArithResult r = add_impl(acc, args[i]);
    if (!r.is_ok()) return false;
    acc = fresh_copy(r.value);
  }
  out = fresh_copy(acc);
  return true;
}

inline Fault sum_of(const Decimal* args, size_t n, Decimal& out) {  // "add", "sum"
  return fold_sum(args, n, out) ? Fault::None : Fault::AddOverflow;
}

inline Fault product_of(const Decimal* args, size_t n, Decimal& out) {  // "mul"
  Decimal acc = Decimal::one();
  for (size_t i = 0; i < n; ++i) {
    Decimal next;
    if (small::mul(acc, args[i], next)) {
      acc = next;
      continue;
    }
    const ArithResult r = mul_impl(acc, args[i]);
    if (!r.is_ok()) return Fault::MulOverflow;
    acc = fresh_copy(r.value);
  }
  out = fresh_copy(acc);
  return Fault::None;
}

inline Fault max_of(const Decimal* args, size_t n, Decimal& out) {
  if (n == 0) return Fault::ArgumentCount;
  const Decimal* choice = &args[0];
  for (size_t i = 1; i < n; ++i) {
    if (small::cmp(*choice, args[i]) <= 0) choice = &args[i];  // the last of equal maxima
  }
  out = fresh_copy(*choice);
  return Fault::None;
}

inline Fault min_of(const Decimal* args, size_t n, Decimal& out) {
  if (n == 0) return Fault::ArgumentCount;
  const Decimal* choice = &args[0];
  for (size_t i = 1; i < n; ++i) {
    if (small::cmp(*choice, args[i]) > 0) choice = &args[i];  // the first of equal minima
  }
  out = fresh_copy(*choice);
  return Fault::None;
}

inline Fault round_of(const Decimal* args, size_t n, Decimal& out) {
  if (n == 1) {
    out = args[0].round();
    return Fault::None;
  }
  if (n != 2) return Fault::ArgumentCount;
  const std::optional<uint64_t> places = args[1].to_u64();
  if (!places || *places > UINT32_MAX) return Fault::PlacesConversion;
  out = args[0].round_dp(static_cast<uint32_t>(*places));
  return Fault::None;
}

inline Fault abs_of(const Decimal* args, size_t n, Decimal& out) {
  if (n != 1) return Fault::ArgumentCount;
  out = fresh_copy(args[0]).abs();
  return Fault::None;
}

inline Fault floor_of(const Decimal* args, size_t n, Decimal& out) {
  if (n != 1) return Fault::ArgumentCount;
  out = args[0].floor();
  return Fault::None;
}

inline Fault ceil_of(const Decimal* args, size_t n, Decimal& out) {
  if (n != 1) return Fault::ArgumentCount;
  out = args[0].ceil();
  return Fault::None;
}

inline Fault average_of(const Decimal* args, size_t n, Decimal& out) {
  if (n == 0) return Fault::ArgumentCount;
  Decimal total;
  if (!fold_sum(args, n, total)) return Fault::AddOverflow;
  const ArithResult r = div_impl(total, Decimal::from_parts(n, 0, 0, false));
  if (!r.is_ok()) return Fault::DivOverflow;
  out = fresh_copy(r.value);
  return Fault::None;
}

}  // namespace vexlor::builtin
