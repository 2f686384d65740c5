// The vectorised machine: one instruction at a time over a block (see fast.hpp).

#include <algorithm>
#include <cstring>
#include <vector>

#include "columnar/fast.hpp"
#include "columnar/fast_ops.hpp"
#include "columnar/runner.hpp"

namespace vexlor::columnar::fast {

using namespace ops;

Machine::Machine(const Plan& plan) : plan_(plan) {
  values_.resize((plan.depth + 1) * BLOCK_ROWS);
  scales_.resize((plan.depth + 1) * BLOCK_ROWS);
}

void Machine::run(std::span<const Lanes> columns, int64_t count, Rows& out, int64_t first, uint8_t* slow) {
  std::vector<Entry> stack;
  stack.reserve(plan_.depth + 1);
  auto slot = [&](size_t p) { return values_.data() + p * BLOCK_ROWS; };
  auto own_slot = [&](size_t p) { return scales_.data() + p * BLOCK_ROWS; };
  auto all_slow = [&] { std::memset(slow, 1, static_cast<size_t>(count)); };
  for (const Step& step : plan_.steps) {
    switch (step.op) {
      case Op::Load:
        stack.push_back({columns[step.arg].values, 0, false, columns[step.arg].scale, nullptr, columns[step.arg].bound,
                         columns[step.arg].least});
        break;
      case Op::Const:
        stack.push_back({nullptr, step.constant, true, step.scale, nullptr, magnitude_of(step.constant),
                         magnitude_of(step.constant)});
        break;
      case Op::Add: case Op::Sub: case Op::Mul: case Op::Eq: case Op::Ne: case Op::Lt: case Op::Le: case Op::Gt:
      case Op::Ge: case Op::And: case Op::Or: {
        const Entry b = stack.back();
        stack.pop_back();
        const Entry a = stack.back();
        const size_t p = stack.size() - 1;
        int64_t* o = slot(p);
        Entry r{o, 0, false, 0, nullptr};
        const bool arith = step.op == Op::Add || step.op == Op::Sub || step.op == Op::Mul;
        const int32_t s = std::max(a.scale, b.scale);
        if (step.op != Op::Mul && step.op != Op::And && step.op != Op::Or &&
            (s - a.scale > MAX_ALIGN || s - b.scale > MAX_ALIGN)) {
          all_slow();
          return;
        }
        if (arith) {  // before the results overwrite a
          // Each row's own scale: a product with a zero factor is a plain 0; a
          // sum with a zero term is the other term unchanged.
          r.scale = step.op == Op::Mul ? a.scale + b.scale : s;
          // Without own scales, a zero makes a difference only as a factor of a
          // product with places, or as the term of a sum with the more places.
          const bool uniform = a.own == nullptr && b.own == nullptr;
          bool zeros = false;
          if (uniform && step.op == Op::Mul && r.scale > 0) zeros = any_zero(a, count) || any_zero(b, count);
          if (uniform && step.op != Op::Mul && a.scale != b.scale) zeros = any_zero(a.scale > b.scale ? a : b, count);
          if (!uniform || zeros) {
            uint8_t* own = own_slot(p);
            for (int64_t k = 0; k < count; ++k) {
              const uint8_t oa = a.own_at(k), ob = b.own_at(k);
              const bool za = a.at(k) == 0, zb = b.at(k) == 0;
              if (step.op == Op::Mul) {
                own[k] = za || zb ? 0 : static_cast<uint8_t>(oa + ob);
              } else {
                own[k] = za ? ob : zb ? oa : std::max(oa, ob);
              }
            }
            r.own = own;
          }
        }
        // Bounds of the operands at the scale of the operation: when they rule
        // out an overflow, the loop needs no checks.
        const bool aligned = step.op != Op::Mul && step.op != Op::And && step.op != Op::Or;
        const uint64_t ba = aligned ? saturated_mul(a.bound, pow10(s - a.scale)) : a.bound;
        const uint64_t bb = aligned ? saturated_mul(b.bound, pow10(s - b.scale)) : b.bound;
        const bool safe = step.op == Op::Mul ? saturated_mul(ba, bb) < SAFE : ba < SAFE && bb < SAFE;
        r.bound = step.op == Op::Mul ? saturated_mul(ba, bb) : arith ? saturated_add(ba, bb) : 1;
        if (step.op == Op::Mul) {
          r.least = saturated_mul(a.least, b.least);
        } else if (arith) {  // |x +- y| >= |x| - |y|
          const uint64_t la = aligned ? saturated_mul(a.least, pow10(s - a.scale)) : a.least;
          const uint64_t lb = aligned ? saturated_mul(b.least, pow10(s - b.scale)) : b.least;
          r.least = la > bb ? la - bb : lb > ba ? lb - ba : 0;
        }
        switch (step.op) {
          case Op::Add:
            if (safe) {
              binary_safe(a, b, s, count, o, [](int64_t x, int64_t y) { return wrap(static_cast<uint64_t>(x) + static_cast<uint64_t>(y)); });
              break;
            }
            binary(a, b, s, count, o, slow, [](int64_t x, int64_t y, uint8_t& bad) {
              int64_t z;
              bad |= __builtin_add_overflow(x, y, &z);
              return z;
            });
            break;
          case Op::Sub:
            if (safe) {
              binary_safe(a, b, s, count, o, [](int64_t x, int64_t y) { return wrap(static_cast<uint64_t>(x) - static_cast<uint64_t>(y)); });
              break;
            }
            binary(a, b, s, count, o, slow, [](int64_t x, int64_t y, uint8_t& bad) {
              int64_t z;
              bad |= __builtin_sub_overflow(x, y, &z);
              return z;
            });
            break;
          case Op::Mul:
            if (a.scale + b.scale > static_cast<int32_t>(MAX_SCALE)) {
              all_slow();
              return;
            }
            if (safe) {
              binary_safe(a, b, -1, count, o, [](int64_t x, int64_t y) { return wrap(static_cast<uint64_t>(x) * static_cast<uint64_t>(y)); });
              break;
            }
            binary(a, b, -1, count, o, slow, [](int64_t x, int64_t y, uint8_t& bad) {
              int64_t z;
              bad |= __builtin_mul_overflow(x, y, &z);
              return z;
            });
            break;
#define VEXLOR_COMPARE(OP, EXPR)                                                                      \
  case Op::OP:                                                                                        \
    if (safe) {                                                                                       \
      binary_safe(a, b, s, count, o, [](int64_t x, int64_t y) -> int64_t { return EXPR; });           \
    } else {                                                                                          \
      binary(a, b, s, count, o, slow, [](int64_t x, int64_t y, uint8_t&) -> int64_t { return EXPR; }); \
    }                                                                                                 \
    break;
          VEXLOR_COMPARE(Eq, x == y)
          VEXLOR_COMPARE(Ne, x != y)
          VEXLOR_COMPARE(Lt, x < y)
          VEXLOR_COMPARE(Le, x <= y)
          VEXLOR_COMPARE(Gt, x > y)
          VEXLOR_COMPARE(Ge, x >= y)
#undef VEXLOR_COMPARE
          case Op::And:
            binary_safe(a, b, -1, count, o, [](int64_t x, int64_t y) -> int64_t { return x != 0 && y != 0; });
            break;
          default:
            binary_safe(a, b, -1, count, o, [](int64_t x, int64_t y) -> int64_t { return x != 0 || y != 0; });
            break;
        }
        stack.back() = r;
        break;
      }
      case Op::Neg: case Op::Not: case Op::Abs: {
        const Entry a = stack.back();
        const size_t p = stack.size() - 1;
        int64_t* o = slot(p);
        for (int64_t k = 0; k < count; ++k) {
          const int64_t x = a.at(k);
          if (step.op == Op::Not) {
            o[k] = x == 0;
          } else if (step.op == Op::Neg || x < 0) {
            o[k] = wrap(uint64_t{0} - static_cast<uint64_t>(x));  // a negative zero (Neg) and -INT64_MIN go to the single-row path
            slow[k] |= (step.op == Op::Neg && x == 0) | (x == INT64_MIN);
          } else {
            o[k] = x;
          }
        }
        Entry r{o, 0, false, step.op == Op::Not ? 0 : a.scale, nullptr, step.op == Op::Not ? 1 : a.bound,
                step.op == Op::Not ? 0 : a.least};
        if (step.op != Op::Not && a.own != nullptr) {
          std::memmove(own_slot(p), a.own, static_cast<size_t>(count));
          r.own = own_slot(p);
        }
        stack.back() = r;
        break;
      }
      case Op::Max: case Op::Min: {
        const size_t first = stack.size() - static_cast<size_t>(step.arg);
        int32_t s = 0;
        bool mixed = false;
        for (size_t i = first; i < stack.size(); ++i) {
          s = std::max(s, stack[i].scale);
          mixed |= stack[i].own != nullptr || stack[i].scale != stack[first].scale;
        }
        for (size_t i = first; i < stack.size(); ++i) {
          if (s - stack[i].scale > MAX_ALIGN) {
            all_slow();
            return;
          }
        }
        int64_t* o = slot(first);
        uint8_t* own = own_slot(first);
        // The first argument, then each later one that wins (max: the last of
        // equal maxima; min: the first of equal minima).
        const std::vector<Entry> args(stack.begin() + static_cast<std::ptrdiff_t>(first), stack.end());
        uint64_t bound = 0, least = UINT64_MAX;  // the result is one of the arguments
        for (const Entry& e : args) {
          bound = std::max(bound, saturated_mul(e.bound, pow10(s - e.scale)));
          least = std::min(least, saturated_mul(e.least, pow10(s - e.scale)));
        }
        if (args.size() == 2 && bound < SAFE) {  // the common case, without checks
          if (step.op == Op::Max) {
            pick2(args[0], args[1], pow10(s - args[0].scale), pow10(s - args[1].scale), mixed, count, o, own,
                  [](int64_t x, int64_t y) { return x <= y; });
          } else {
            pick2(args[0], args[1], pow10(s - args[0].scale), pow10(s - args[1].scale), mixed, count, o, own,
                  [](int64_t x, int64_t y) { return x > y; });
          }
          stack.resize(first + 1);
          stack.back() = {o, 0, false, s, mixed ? own : nullptr, bound, least};
          break;
        }
        for (int64_t k = 0; k < count; ++k) {
          uint8_t bad = 0;
          int64_t best = up(args[0].at(k), pow10(s - args[0].scale), bad);
          uint8_t best_own = args[0].own_at(k);
          for (size_t i = 1; i < args.size(); ++i) {
            const int64_t x = up(args[i].at(k), pow10(s - args[i].scale), bad);
            if (step.op == Op::Max ? best <= x : best > x) {
              best = x;
              best_own = args[i].own_at(k);
            }
          }
          o[k] = best;
          own[k] = best_own;
          slow[k] |= bad;
        }
        stack.resize(first + 1);
        stack.back() = {o, 0, false, s, mixed ? own : nullptr, bound, least};
        break;
      }
      case Op::Round: {
        const Entry a = stack.back();
        const size_t p = stack.size() - 1;
        if (a.scale <= step.arg) break;  // every row has at most that many places
        int64_t* o = slot(p);
        switch (a.scale - step.arg) {
          case 1: round_block<10>(a, count, o); break;
          case 2: round_block<100>(a, count, o); break;
          case 3: round_block<1000>(a, count, o); break;
          case 4: round_block<10000>(a, count, o); break;
          default:
            if (a.scale - step.arg > MAX_ALIGN) {
              all_slow();
              return;
            }
            for (int64_t k = 0; k < count; ++k) o[k] = round_div(a.at(k), pow10(a.scale - step.arg));
        }
        const auto m = static_cast<uint64_t>(pow10(a.scale - step.arg));
        Entry r{o, 0, false, step.arg, nullptr, a.bound / m + 1, a.least / m};
        if (a.own != nullptr) {
          uint8_t* own = own_slot(p);
          for (int64_t k = 0; k < count; ++k) own[k] = std::min<uint8_t>(a.own[k], static_cast<uint8_t>(step.arg));
          r.own = own;
        }
        stack.back() = r;
        break;
      }
      case Op::Select: {
        const Entry y = stack.back();
        stack.pop_back();
        const Entry x = stack.back();
        stack.pop_back();
        const Entry c = stack.back();
        const size_t p = stack.size() - 1;
        const int32_t s = std::max(x.scale, y.scale);
        if (s - x.scale > MAX_ALIGN || s - y.scale > MAX_ALIGN) {
          all_slow();
          return;
        }
        const int64_t mx = pow10(s - x.scale), my = pow10(s - y.scale);
        const bool mixed = x.own != nullptr || y.own != nullptr || x.scale != y.scale;
        int64_t* o = slot(p);
        uint8_t* own = own_slot(p);
        if (saturated_mul(x.bound, mx) < SAFE && saturated_mul(y.bound, my) < SAFE) {
          // Within bounds: the choice of every row, without checks.
          select_within(c, x, y, mx, my, mixed, count, o, own);
        } else {
          for (int64_t k = 0; k < count; ++k) {
            uint8_t bad = 0;
            const bool take_x = c.at(k) != 0;
            o[k] = take_x ? up(x.at(k), mx, bad) : up(y.at(k), my, bad);
            if (mixed) own[k] = take_x ? x.own_at(k) : y.own_at(k);
            slow[k] |= bad;
          }
        }
        stack.back() = {o, 0, false, s, mixed ? own : nullptr,
                        std::max(saturated_mul(x.bound, mx), saturated_mul(y.bound, my)),
                        std::min(saturated_mul(x.least, mx), saturated_mul(y.least, my))};
        break;
      }
    }
  }
  const Entry& r = stack.back();
  if (r.own == nullptr && !r.is_const) {
    uint64_t* w = out.words(first);
    uint8_t* scale = out.scale.data() + first;
    for (int64_t k = 0; k < count; ++k) {
      w[2 * k] = static_cast<uint64_t>(r.v[k]);
      w[2 * k + 1] = r.v[k] < 0 ? ~uint64_t{0} : 0;
      scale[k] = static_cast<uint8_t>(r.scale);
    }
    return;
  }
  for (int64_t k = 0; k < count; ++k) {
    int64_t v = r.at(k);
    const uint8_t own = r.own_at(k);
    if (own != r.scale) v = r.scale - own < 19 ? v / static_cast<int64_t>(POW10_U64[r.scale - own]) : 0;
    out.store(first + k, v, own);
  }
}

}  // namespace vexlor::columnar::fast
