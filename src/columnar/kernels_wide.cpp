// Wide kernels: every instruction over full decimals, row by row with the very
// operations a single evaluation uses (so each row's value is the one it gives,
// and a row that fails there is marked for the single-row path, which gives
// its error). Division, remainder and powers, and the built-in functions
// beyond max, min, abs and round to constant places, always run here.

#include <algorithm>
#include <array>

#include "columnar/block.hpp"
#include "columnar/scalar.hpp"
#include "vm/builtins.hpp"

namespace vexlor::columnar::fast {

using namespace ops;

namespace {

// f(k) for every row not null.
template <class F>
inline void each(int64_t count, const uint8_t* null, F f) {
  if (null == nullptr) {
    for (int64_t k = 0; k < count; ++k) f(k);
  } else {
    for (int64_t k = 0; k < count; ++k) {
      if (!null[k]) f(k);
    }
  }
}

bool arith(const ArithResult& r, Decimal& out) {
  if (!r.is_ok()) return false;
  out = fresh_copy(r.value);
  return true;
}

// `m`: the reciprocal of a constant divisor, planned once for the block.
bool divide(Op op, const Decimal& a, const Decimal& b, const uint64_t* m, Decimal& out) {
  if (b.is_zero()) return false;
  if (op == Op::Mod) return remainder(a, b, out);
  if (!(m != nullptr ? quotient(a, b, *m, out) : quotient(a, b, out))) return false;
  if (op == Op::FloorDiv) out = floored(out);
  return true;
}

bool call(Fn fn, const Decimal* args, size_t n, Decimal& out) {
  using namespace builtin;
  if (fn == Fn::Sqrt) {
    if (n != 1 || args[0].is_sign_negative()) return false;
    const MathResult r = vexlor::sqrt(args[0]);
    if (!r.is_ok()) return false;
    out = fresh_copy(r.value);
    return true;
  }
  if (fn == Fn::Floor || fn == Fn::Ceil) {
    if (n != 1) return false;
    out = fn == Fn::Floor ? floored(args[0]) : ceiled(args[0]);
    return true;
  }
  if (fn == Fn::Round && n == 2) {
    const std::optional<uint64_t> places = args[1].to_u64();
    if (!places || *places > UINT32_MAX) return false;
    out = rounded(args[0], static_cast<uint32_t>(*places));
    return true;
  }
  Fault f = Fault::None;
  switch (fn) {
    case Fn::Add: case Fn::Sum: f = sum_of(args, n, out); break;
    case Fn::Mul: f = product_of(args, n, out); break;
    case Fn::Max: f = max_of(args, n, out); break;
    case Fn::Min: f = min_of(args, n, out); break;
    case Fn::Round: f = round_of(args, n, out); break;
    case Fn::Abs: f = abs_of(args, n, out); break;
    case Fn::Floor: f = floor_of(args, n, out); break;
    case Fn::Ceil: f = ceil_of(args, n, out); break;
    default: f = average_of(args, n, out); break;
  }
  return f == Fault::None;
}

template <class Test>
int64_t compare(const Decimal& a, const Decimal& b, Test test) {
  return small::compare(a, b, test) ? 1 : 0;
}

}  // namespace

const Decimal* Block::widen(const Entry& e, size_t p) {
  if (e.wide && !e.is_const) return e.w;
  Decimal* out = wide_slot(p);
  if (e.is_const) {
    const Decimal d = e.wide ? e.d : value_at(e, 0);
    std::fill(out, out + count_, d);
  } else if (e.own == nullptr) {
    const auto scale = static_cast<uint32_t>(e.scale);
    for (int64_t k = 0; k < count_; ++k) out[k] = Decimal::from_parts(magnitude_of(e.v[k]), 0, scale, e.v[k] < 0);
  } else {
    for (int64_t k = 0; k < count_; ++k) out[k] = value_at(e, k);
  }
  return out;
}

void Block::try_narrow(size_t p, const uint8_t* null) {
  Lanes lanes;
  if (!narrow_lanes(wide_slot(p), null, count_, slot(p), own_slot(p), lanes)) return;
  stack_.back() = lanes_entry(lanes.values, lanes.scale, lanes.own, lanes.bound, lanes.least);
}

void Block::wide(const Step& step, size_t n, const uint8_t* null) {
  const size_t first = stack_.size() - n;
  const Decimal* a[64];
  for (size_t i = 0; i < n; ++i) a[i] = widen(stack_[first + i], first + i);
  Decimal* out = wide_slot(first);
  int64_t* truth = slot(first);
  uint8_t* slow = slow_;
  const Op op = step.op;
  bool logical = false;  // a result of 0 or 1, narrow
  auto fail = [&](int64_t k, bool ok) {  // a failed row holds a zero for the steps after it
    if (ok) return;
    slow[k] = 1;
    out[k] = Decimal();
  };
  switch (op) {
    case Op::Add: case Op::Sub:
      each(count_, null, [&](int64_t k) {
        if (small::add(a[0][k], a[1][k], op == Op::Sub, out[k])) return;
        fail(k, sum(a[0][k], a[1][k], op == Op::Sub, out[k]));
      });
      break;
    case Op::Mul:
      each(count_, null, [&](int64_t k) {
        if (small::mul(a[0][k], a[1][k], out[k])) return;
        fail(k, arith(mul_impl(a[0][k], a[1][k]), out[k]));
      });
      break;
    case Op::Div: case Op::FloorDiv: case Op::Mod:
      if (stack_[first + 1].is_const) {
        const uint64_t m = reciprocal(a[1][0]);
        each(count_, null, [&](int64_t k) { fail(k, divide(op, a[0][k], a[1][k], &m, out[k])); });
      } else {
        each(count_, null, [&](int64_t k) { fail(k, divide(op, a[0][k], a[1][k], nullptr, out[k])); });
      }
      break;
    case Op::Pow:
      each(count_, null, [&](int64_t k) {
        const MathResult r = checked_powd(a[0][k], a[1][k]);
        if (r.is_ok()) out[k] = fresh_copy(r.value);
        fail(k, r.is_ok());
      });
      break;
    case Op::Neg:
      each(count_, null, [&](int64_t k) { out[k] = negated_words(a[0][k]); });
      break;
    case Op::Abs:
      each(count_, null, [&](int64_t k) { out[k] = fresh_copy(a[0][k]).abs(); });
      break;
    case Op::Round:
      each(count_, null, [&](int64_t k) { out[k] = rounded(a[0][k], static_cast<uint32_t>(step.arg)); });
      break;
    case Op::Max: case Op::Min: case Op::Call: {
      const Fn fn = op == Op::Max ? Fn::Max : op == Op::Min ? Fn::Min : step.fn;
      if (n == 1) {
        each(count_, null, [&](int64_t k) { fail(k, call(fn, &a[0][k], 1, out[k])); });
        break;
      }
      std::array<Decimal, 64> row;  // (64 arguments at most)
      each(count_, null, [&](int64_t k) {
        for (size_t i = 0; i < n; ++i) row[i] = a[i][k];
        fail(k, call(fn, row.data(), n, out[k]));
      });
      break;
    }
    case Op::Select:
      for (int64_t k = 0; k < count_; ++k) out[k] = a[0][k].is_zero() ? a[2][k] : a[1][k];
      break;
    case Op::Not:
      logical = true;
      for (int64_t k = 0; k < count_; ++k) truth[k] = a[0][k].is_zero();
      break;
    case Op::And: case Op::Or:
      logical = true;
      for (int64_t k = 0; k < count_; ++k) {
        const bool x = !a[0][k].is_zero(), y = !a[1][k].is_zero();
        truth[k] = op == Op::And ? x && y : x || y;
      }
      break;
    default: {
      logical = true;
      auto run = [&](auto test) {
        for (int64_t k = 0; k < count_; ++k) truth[k] = compare(a[0][k], a[1][k], test);
      };
      switch (op) {
        case Op::Eq: run([](std::strong_ordering c) { return c == 0; }); break;
        case Op::Ne: run([](std::strong_ordering c) { return c != 0; }); break;
        case Op::Lt: run([](std::strong_ordering c) { return c < 0; }); break;
        case Op::Le: run([](std::strong_ordering c) { return c <= 0; }); break;
        case Op::Gt: run([](std::strong_ordering c) { return c > 0; }); break;
        default: run([](std::strong_ordering c) { return c >= 0; }); break;
      }
    }
  }
  stack_.resize(first + 1);
  Entry& r = stack_.back();
  if (logical) {
    r = lanes_entry(truth, 0, nullptr, 1, 0);
    return;
  }
  if (null != nullptr) {
    for (int64_t k = 0; k < count_; ++k) {
      if (null[k]) out[k] = Decimal();
    }
  }
  r = Entry{};
  r.wide = true;
  r.w = out;
  try_narrow(first, null);
}

}  // namespace vexlor::columnar::fast
