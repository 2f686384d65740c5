// The vectorised machine: one step at a time over a block (see fast.hpp and
// block.hpp), each in the narrow form where it holds the block, else wide.

#include <algorithm>
#include <cstring>

#include "columnar/block.hpp"

namespace vexlor::columnar::fast {

using namespace ops;

namespace {

size_t arity(const Step& s) {
  switch (s.op) {
    case Op::Neg: case Op::Not: case Op::Abs: case Op::Round: return 1;
    case Op::Select: return 3;
    case Op::Max: case Op::Min: case Op::Call: return static_cast<size_t>(s.arg);
    default: return 2;
  }
}

uint64_t gas_at(const Entry& e, int64_t k) { return e.gas_v != nullptr ? e.gas_v[k] : e.gas; }

// A power's gas: its exponent's magnitude rounded up, plus one.
uint64_t pow_cost(const Decimal& exponent) {
  const std::optional<uint64_t> n = exponent.abs().ceil().to_u64();
  if (!n || *n == UINT64_MAX) return UINT64_MAX;
  return *n + 1;
}

}  // namespace

Block::Block(Machine::Scratch& scratch, const Plan& plan, int64_t count, uint8_t* slow)
    : s_(scratch), plan_(plan), count_(count), slow_(slow), stack_(scratch.stack) {
  stack_.clear();
}

Decimal Block::value_at(const Entry& e, int64_t k) {
  if (e.wide) return e.is_const ? e.d : e.w[k];
  int64_t v = e.at(k);
  const uint8_t own = e.own_at(k);
  if (own != e.scale) v = e.scale - own < 19 ? v / static_cast<int64_t>(POW10_U64[e.scale - own]) : 0;
  return Decimal::from_parts(magnitude_of(v), 0, own, v < 0);
}

void Block::step(const Step& step, std::span<const Lanes> columns) {
  if (step.op == Op::Load) {
    const Lanes& c = columns[step.arg];
    Entry e = lanes_entry(c.values, c.scale, c.own, c.bound, c.least);
    e.wide = c.wide != nullptr;
    e.w = c.wide;
    e.null = c.null;
    e.gas = step.cost;
    stack_.push_back(e);
    return;
  }
  if (step.op == Op::Const) {
    const Decimal& d = step.constant;
    Entry e;
    e.is_const = true;
    e.gas = step.cost;
    if (d.hi() == 0 && d.lo() <= static_cast<uint64_t>(INT64_MAX) && !(d.is_zero() && d.is_sign_negative())) {
      const auto v = static_cast<int64_t>(d.lo());
      e.c = d.is_sign_negative() ? -v : v;
      e.scale = static_cast<int32_t>(d.scale());
      e.bound = e.least = d.lo();
    } else {
      e.wide = true;
      e.d = d;
    }
    stack_.push_back(e);
    return;
  }
  const size_t n = arity(step);
  const size_t first = stack_.size() - n;
  const uint8_t* null = nullptr;
  uint64_t gas = 0;
  const uint64_t* gas_v = nullptr;
  bookkeeping(step, n, null, gas, gas_v);
  bool wide_args = false;
  for (size_t i = first; i < stack_.size(); ++i) wide_args |= stack_[i].wide;
  if (wide_args || !narrow(step)) wide(step, n, null);
  Entry& r = stack_.back();
  r.null = null;
  r.gas = gas;
  r.gas_v = gas_v;
}

bool Block::narrow(const Step& step) {
  switch (step.op) {
    case Op::Add: case Op::Sub: case Op::Mul: case Op::Eq: case Op::Ne: case Op::Lt: case Op::Le: case Op::Gt:
    case Op::Ge: case Op::And: case Op::Or:
      return two_operands(step.op);
    case Op::Neg: case Op::Not: case Op::Abs:
      return unary(step.op);
    case Op::Max: case Op::Min:
      return extreme(step.op, static_cast<size_t>(step.arg));
    case Op::Round:
      return round(step.arg);
    case Op::Select:
      return select();
    default:
      return false;
  }
}

void Block::bookkeeping(const Step& step, size_t n, const uint8_t*& null, uint64_t& gas, const uint64_t*& gas_v) {
  const size_t first = stack_.size() - n;
  const std::span<const Entry> args(stack_.data() + first, n);
  const bool choose = step.op == Op::Select;
  bool nulls = false, per_row = step.op == Op::Pow;
  for (const Entry& e : args) {
    nulls |= e.null != nullptr;
    per_row |= e.gas_v != nullptr;
  }
  if (choose && !per_row) per_row = args[1].gas != args[2].gas;
  if (nulls) {
    uint8_t* out = null_slot(first);
    for (int64_t k = 0; k < count_; ++k) {
      uint8_t any = 0;
      if (choose) {
        const Entry& taken = truth_at(args[0], k) ? args[1] : args[2];
        any = (args[0].null != nullptr && args[0].null[k]) | (taken.null != nullptr && taken.null[k]);
      } else {
        for (const Entry& e : args) any |= e.null != nullptr && e.null[k];
      }
      out[k] = any;
    }
    null = out;
  }
  if (!plan_.metered) return;
  if (!per_row) {
    gas = step.cost;
    for (size_t i = 0; i < n; ++i) gas = saturated_add(gas, choose && i == 2 ? 0 : args[i].gas);
    return;
  }
  uint64_t* out = gas_slot(first);
  for (int64_t k = 0; k < count_; ++k) {
    uint64_t g = step.cost;
    if (choose) {
      g = saturated_add(g, saturated_add(gas_at(args[0], k), gas_at(truth_at(args[0], k) ? args[1] : args[2], k)));
    } else {
      for (const Entry& e : args) g = saturated_add(g, gas_at(e, k));
      if (step.op == Op::Pow) g = saturated_add(g, pow_cost(value_at(args[1], k)));
    }
    out[k] = g;
  }
  gas_v = out;
}

void Block::finish(Rows& out, int64_t first, uint8_t* null) {
  const Entry& r = stack_.back();
  if (plan_.metered) {
    for (int64_t k = 0; k < count_; ++k) slow_[k] |= gas_at(r, k) > plan_.gas_limit;
  }
  if (r.null != nullptr) {
    std::memcpy(null, r.null, static_cast<size_t>(count_));
  } else {
    std::memset(null, 0, static_cast<size_t>(count_));
  }
  if (r.wide) {
    for (int64_t k = 0; k < count_; ++k) out.store(first + k, r.is_const ? r.d : r.w[k]);
    return;
  }
  if (r.own == nullptr && !r.is_const) {
    uint64_t* w = out.words(first);
    uint8_t* scale = out.scale.data() + first;
    for (int64_t k = 0; k < count_; ++k) {
      w[2 * k] = static_cast<uint64_t>(r.v[k]);
      w[2 * k + 1] = r.v[k] < 0 ? ~uint64_t{0} : 0;
      scale[k] = static_cast<uint8_t>(r.scale);
    }
    return;
  }
  for (int64_t k = 0; k < count_; ++k) {
    int64_t v = r.at(k);
    const uint8_t own = r.own_at(k);
    if (own != r.scale) v = r.scale - own < 19 ? v / static_cast<int64_t>(POW10_U64[r.scale - own]) : 0;
    out.store(first + k, v, own);
  }
}

Machine::Machine(const Plan& plan) : plan_(plan) {
  const size_t n = (plan.depth + 1) * BLOCK_ROWS;
  scratch_.values.resize(n);
  scratch_.scales.resize(n);
  scratch_.nulls.resize(n);
  scratch_.wides.resize(n * sizeof(Decimal));
  if (plan.metered) scratch_.gas.resize(n);
  scratch_.stack.reserve(plan.depth + 1);
}

Machine::~Machine() = default;

void Machine::run(std::span<const Lanes> columns, int64_t count, Rows& out, int64_t first, uint8_t* slow,
                  uint8_t* null) {
  Block block(scratch_, plan_, count, slow);
  for (const Step& step : plan_.steps) block.step(step, columns);
  block.finish(out, first, null);
}

}  // namespace vexlor::columnar::fast
