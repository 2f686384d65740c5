// The vectorised machine: one instruction at a time over a block (see fast.hpp).

#include <algorithm>
#include <cstring>
#include <vector>

#include "columnar/fast.hpp"
#include "columnar/fast_ops.hpp"
#include "columnar/runner.hpp"

namespace vexlor::columnar::fast {

using namespace ops;

namespace {

// One run of a plan over one block. The value at stack position p lives in the
// machine's slot p (coefficients) and own slot p (each row's own scale).
class Block {
 public:
  Block(std::vector<int64_t, Uncleared<int64_t>>& values, ByteVector& scales, size_t depth, int64_t count,
        uint8_t* slow)
      : values_(values), scales_(scales), count_(count), slow_(slow) {
    stack_.reserve(depth + 1);
  }

  // False when every row of the block is left to the single-row path.
  bool step(const Step& step, std::span<const Lanes> columns) {
    switch (step.op) {
      case Op::Load: {
        const Lanes& c = columns[step.arg];
        stack_.push_back({c.values, 0, false, c.scale, nullptr, c.bound, c.least});
        return true;
      }
      case Op::Const:
        stack_.push_back({nullptr, step.constant, true, step.scale, nullptr, magnitude_of(step.constant),
                          magnitude_of(step.constant)});
        return true;
      case Op::Neg: case Op::Not: case Op::Abs:
        unary(step.op);
        return true;
      case Op::Max: case Op::Min:
        return extreme(step.op, static_cast<size_t>(step.arg));
      case Op::Round:
        return round(step.arg);
      case Op::Select:
        return select();
      default:
        return two_operands(step.op);
    }
  }

  void store(Rows& out, int64_t first) const {
    const Entry& r = stack_.back();
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

 private:
  int64_t* slot(size_t p) { return values_.data() + p * BLOCK_ROWS; }
  uint8_t* own_slot(size_t p) { return scales_.data() + p * BLOCK_ROWS; }
  bool all_slow() {
    std::memset(slow_, 1, static_cast<size_t>(count_));
    return false;
  }

  // + - *, comparisons, and, or.
  bool two_operands(Op op) {
    const Entry b = stack_.back();
    stack_.pop_back();
    const Entry a = stack_.back();
    const size_t p = stack_.size() - 1;
    int64_t* o = slot(p);
    Entry r{o, 0, false, 0, nullptr};
    const bool arith = op == Op::Add || op == Op::Sub || op == Op::Mul;
    const bool aligned = op != Op::Mul && op != Op::And && op != Op::Or;
    const int32_t s = std::max(a.scale, b.scale);
    if (aligned && (s - a.scale > MAX_ALIGN || s - b.scale > MAX_ALIGN)) return all_slow();
    if (op == Op::Mul && a.scale + b.scale > static_cast<int32_t>(MAX_SCALE)) return all_slow();
    if (arith) own_scales(op, a, b, p, r);  // before the results overwrite a
    // Bounds of the operands at the scale of the operation: when they rule out
    // an overflow, the loop needs no checks.
    const uint64_t ba = aligned ? saturated_mul(a.bound, pow10(s - a.scale)) : a.bound;
    const uint64_t bb = aligned ? saturated_mul(b.bound, pow10(s - b.scale)) : b.bound;
    const bool safe = op == Op::Mul ? saturated_mul(ba, bb) < SAFE : ba < SAFE && bb < SAFE;
    r.bound = op == Op::Mul ? saturated_mul(ba, bb) : arith ? saturated_add(ba, bb) : 1;
    if (op == Op::Mul) {
      r.least = saturated_mul(a.least, b.least);
    } else if (arith) {  // |x +- y| >= |x| - |y|
      const uint64_t la = saturated_mul(a.least, pow10(s - a.scale));
      const uint64_t lb = saturated_mul(b.least, pow10(s - b.scale));
      r.least = la > bb ? la - bb : lb > ba ? lb - ba : 0;
    }
    const int64_t n = count_;
    switch (op) {
      case Op::Add:
        if (safe) {
          binary_safe(a, b, s, n, o, [](int64_t x, int64_t y) { return wrap(uint64_t(x) + uint64_t(y)); });
        } else {
          ops::binary(a, b, s, n, o, slow_, [](int64_t x, int64_t y, uint8_t& bad) {
            int64_t z;
            bad |= __builtin_add_overflow(x, y, &z);
            return z;
          });
        }
        break;
      case Op::Sub:
        if (safe) {
          binary_safe(a, b, s, n, o, [](int64_t x, int64_t y) { return wrap(uint64_t(x) - uint64_t(y)); });
        } else {
          ops::binary(a, b, s, n, o, slow_, [](int64_t x, int64_t y, uint8_t& bad) {
            int64_t z;
            bad |= __builtin_sub_overflow(x, y, &z);
            return z;
          });
        }
        break;
      case Op::Mul:
        if (safe) {
          binary_safe(a, b, -1, n, o, [](int64_t x, int64_t y) { return wrap(uint64_t(x) * uint64_t(y)); });
        } else {
          ops::binary(a, b, -1, n, o, slow_, [](int64_t x, int64_t y, uint8_t& bad) {
            int64_t z;
            bad |= __builtin_mul_overflow(x, y, &z);
            return z;
          });
        }
        break;
#define VEXLOR_COMPARE(OP, EXPR)                                                                    \
  case Op::OP:                                                                                      \
    if (safe) {                                                                                     \
      binary_safe(a, b, s, n, o, [](int64_t x, int64_t y) -> int64_t { return EXPR; });            \
    } else {                                                                                        \
      ops::binary(a, b, s, n, o, slow_, [](int64_t x, int64_t y, uint8_t&) -> int64_t { return EXPR; }); \
    }                                                                                               \
    break;
        VEXLOR_COMPARE(Eq, x == y)
        VEXLOR_COMPARE(Ne, x != y)
        VEXLOR_COMPARE(Lt, x < y)
        VEXLOR_COMPARE(Le, x <= y)
        VEXLOR_COMPARE(Gt, x > y)
        VEXLOR_COMPARE(Ge, x >= y)
#undef VEXLOR_COMPARE
      case Op::And:
        binary_safe(a, b, -1, n, o, [](int64_t x, int64_t y) -> int64_t { return x != 0 && y != 0; });
        break;
      default:
        binary_safe(a, b, -1, n, o, [](int64_t x, int64_t y) -> int64_t { return x != 0 || y != 0; });
        break;
    }
    stack_.back() = r;
    return true;
  }

  // The result's scale, and each row's own scale where rows differ: a product
  // with a zero factor is a plain 0; a sum with a zero term is the other term
  // unchanged. Without own scales, a zero makes a difference only as a factor of
  // a product with places, or as the term of a sum with the more places.
  void own_scales(Op op, const Entry& a, const Entry& b, size_t p, Entry& r) {
    r.scale = op == Op::Mul ? a.scale + b.scale : std::max(a.scale, b.scale);
    const bool uniform = a.own == nullptr && b.own == nullptr;
    bool zeros = false;
    if (uniform && op == Op::Mul && r.scale > 0) zeros = any_zero(a, count_) || any_zero(b, count_);
    if (uniform && op != Op::Mul && a.scale != b.scale) zeros = any_zero(a.scale > b.scale ? a : b, count_);
    if (uniform && !zeros) return;
    uint8_t* own = own_slot(p);
    for (int64_t k = 0; k < count_; ++k) {
      const uint8_t oa = a.own_at(k), ob = b.own_at(k);
      const bool za = a.at(k) == 0, zb = b.at(k) == 0;
      if (op == Op::Mul) {
        own[k] = za || zb ? 0 : static_cast<uint8_t>(oa + ob);
      } else {
        own[k] = za ? ob : zb ? oa : std::max(oa, ob);
      }
    }
    r.own = own;
  }

  // Neg, Not, Abs.
  void unary(Op op) {
    const Entry a = stack_.back();
    const size_t p = stack_.size() - 1;
    int64_t* o = slot(p);
    for (int64_t k = 0; k < count_; ++k) {
      const int64_t x = a.at(k);
      if (op == Op::Not) {
        o[k] = x == 0;
      } else if (op == Op::Neg || x < 0) {
        // A negative zero (Neg) and -INT64_MIN go to the single-row path.
        o[k] = wrap(uint64_t{0} - static_cast<uint64_t>(x));
        slow_[k] |= (op == Op::Neg && x == 0) | (x == INT64_MIN);
      } else {
        o[k] = x;
      }
    }
    Entry r{o, 0, false, op == Op::Not ? 0 : a.scale, nullptr, op == Op::Not ? 1 : a.bound,
            op == Op::Not ? 0 : a.least};
    if (op != Op::Not && a.own != nullptr) {
      std::memmove(own_slot(p), a.own, static_cast<size_t>(count_));
      r.own = own_slot(p);
    }
    stack_.back() = r;
  }

  // max or min of the top `n` values: the first argument, then each later one
  // that wins (max: the last of equal maxima; min: the first of equal minima).
  bool extreme(Op op, size_t n) {
    const size_t first = stack_.size() - n;
    const std::vector<Entry> args(stack_.begin() + static_cast<std::ptrdiff_t>(first), stack_.end());
    int32_t s = 0;
    bool mixed = false;
    for (const Entry& e : args) {
      s = std::max(s, e.scale);
      mixed |= e.own != nullptr || e.scale != args[0].scale;
    }
    for (const Entry& e : args) {
      if (s - e.scale > MAX_ALIGN) return all_slow();
    }
    int64_t* o = slot(first);
    uint8_t* own = own_slot(first);
    uint64_t bound = 0, least = UINT64_MAX;  // the result is one of the arguments
    for (const Entry& e : args) {
      bound = std::max(bound, saturated_mul(e.bound, pow10(s - e.scale)));
      least = std::min(least, saturated_mul(e.least, pow10(s - e.scale)));
    }
    if (n == 2 && bound < SAFE) {  // the common case, without checks
      const int64_t m0 = pow10(s - args[0].scale), m1 = pow10(s - args[1].scale);
      if (op == Op::Max) {
        pick2(args[0], args[1], m0, m1, mixed, count_, o, own, [](int64_t x, int64_t y) { return x <= y; });
      } else {
        pick2(args[0], args[1], m0, m1, mixed, count_, o, own, [](int64_t x, int64_t y) { return x > y; });
      }
    } else {
      for (int64_t k = 0; k < count_; ++k) {
        uint8_t bad = 0;
        int64_t best = up(args[0].at(k), pow10(s - args[0].scale), bad);
        uint8_t best_own = args[0].own_at(k);
        for (size_t i = 1; i < n; ++i) {
          const int64_t x = up(args[i].at(k), pow10(s - args[i].scale), bad);
          if (op == Op::Max ? best <= x : best > x) {
            best = x;
            best_own = args[i].own_at(k);
          }
        }
        o[k] = best;
        own[k] = best_own;
        slow_[k] |= bad;
      }
    }
    stack_.resize(first + 1);
    stack_.back() = {o, 0, false, s, mixed ? own : nullptr, bound, least};
    return true;
  }

  // round to `places` places, half to even.
  bool round(int32_t places) {
    const Entry a = stack_.back();
    const size_t p = stack_.size() - 1;
    if (a.scale <= places) return true;  // every row has at most that many places
    if (a.scale - places > MAX_ALIGN) return all_slow();
    int64_t* o = slot(p);
    const auto m = static_cast<uint64_t>(pow10(a.scale - places));
    switch (a.scale - places) {
      case 1: round_block<10>(a, count_, o); break;
      case 2: round_block<100>(a, count_, o); break;
      case 3: round_block<1000>(a, count_, o); break;
      case 4: round_block<10000>(a, count_, o); break;
      default:
        for (int64_t k = 0; k < count_; ++k) o[k] = round_div(a.at(k), static_cast<int64_t>(m));
    }
    Entry r{o, 0, false, places, nullptr, a.bound / m + 1, a.least / m};
    if (a.own != nullptr) {
      uint8_t* own = own_slot(p);
      for (int64_t k = 0; k < count_; ++k) own[k] = std::min<uint8_t>(a.own[k], static_cast<uint8_t>(places));
      r.own = own;
    }
    stack_.back() = r;
    return true;
  }

  // c ? x : y, with c, x and y the top three values.
  bool select() {
    const Entry y = stack_.back();
    stack_.pop_back();
    const Entry x = stack_.back();
    stack_.pop_back();
    const Entry c = stack_.back();
    const size_t p = stack_.size() - 1;
    const int32_t s = std::max(x.scale, y.scale);
    if (s - x.scale > MAX_ALIGN || s - y.scale > MAX_ALIGN) return all_slow();
    const int64_t mx = pow10(s - x.scale), my = pow10(s - y.scale);
    const bool mixed = x.own != nullptr || y.own != nullptr || x.scale != y.scale;
    int64_t* o = slot(p);
    uint8_t* own = own_slot(p);
    if (saturated_mul(x.bound, mx) < SAFE && saturated_mul(y.bound, my) < SAFE) {
      select_within(c, x, y, mx, my, mixed, count_, o, own);
    } else {
      for (int64_t k = 0; k < count_; ++k) {
        uint8_t bad = 0;
        const bool take_x = c.at(k) != 0;
        o[k] = take_x ? up(x.at(k), mx, bad) : up(y.at(k), my, bad);
        if (mixed) own[k] = take_x ? x.own_at(k) : y.own_at(k);
        slow_[k] |= bad;
      }
    }
    stack_.back() = {o, 0, false, s, mixed ? own : nullptr,
                     std::max(saturated_mul(x.bound, mx), saturated_mul(y.bound, my)),
                     std::min(saturated_mul(x.least, mx), saturated_mul(y.least, my))};
    return true;
  }

  std::vector<int64_t, Uncleared<int64_t>>& values_;
  ByteVector& scales_;
  const int64_t count_;
  uint8_t* const slow_;
  std::vector<Entry> stack_;
};

}  // namespace

Machine::Machine(const Plan& plan) : plan_(plan) {
  values_.resize((plan.depth + 1) * BLOCK_ROWS);
  scales_.resize((plan.depth + 1) * BLOCK_ROWS);
}

void Machine::run(std::span<const Lanes> columns, int64_t count, Rows& out, int64_t first, uint8_t* slow) {
  Block block(values_, scales_, plan_.depth, count, slow);
  for (const Step& step : plan_.steps) {
    if (!block.step(step, columns)) return;
  }
  block.store(out, first);
}

}  // namespace vexlor::columnar::fast
