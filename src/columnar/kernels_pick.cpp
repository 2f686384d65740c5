// Narrow kernels that pick or round a value: max, min, round to constant
// places, and conditionals.

#include <algorithm>

#include "columnar/block.hpp"

namespace vexlor::columnar::fast {

using namespace ops;

// max or min of the top `n` values: the first argument, then each later one
// that wins (max: the last of equal maxima; min: the first of equal minima).
bool Block::extreme(Op op, size_t n) {
  const size_t first = stack_.size() - n;
  Entry args[16];
  std::copy(stack_.begin() + static_cast<std::ptrdiff_t>(first), stack_.end(), args);
  int32_t s = 0;
  bool mixed = false;
  for (size_t i = 0; i < n; ++i) {
    s = std::max(s, args[i].scale);
    mixed |= args[i].own != nullptr || args[i].scale != args[0].scale;
  }
  uint64_t bound = 0, least = UINT64_MAX;  // the result is one of the arguments
  for (size_t i = 0; i < n; ++i) {
    if (s - args[i].scale > MAX_ALIGN) return false;
    bound = std::max(bound, saturated_mul(args[i].bound, pow10(s - args[i].scale)));
    least = std::min(least, saturated_mul(args[i].least, pow10(s - args[i].scale)));
  }
  if (bound >= SAFE) return false;
  int64_t* o = slot(first);
  uint8_t* own = own_slot(first);
  if (n == 2) {  // the common case
    const int64_t m0 = pow10(s - args[0].scale), m1 = pow10(s - args[1].scale);
    if (op == Op::Max) {
      pick2(args[0], args[1], m0, m1, mixed, count_, o, own, [](int64_t x, int64_t y) { return x <= y; });
    } else {
      pick2(args[0], args[1], m0, m1, mixed, count_, o, own, [](int64_t x, int64_t y) { return x > y; });
    }
  } else {
    for (int64_t k = 0; k < count_; ++k) {
      int64_t best = args[0].at(k) * pow10(s - args[0].scale);
      uint8_t best_own = args[0].own_at(k);
      for (size_t i = 1; i < n; ++i) {
        const int64_t x = args[i].at(k) * pow10(s - args[i].scale);
        if (op == Op::Max ? best <= x : best > x) {
          best = x;
          best_own = args[i].own_at(k);
        }
      }
      o[k] = best;
      own[k] = best_own;
    }
  }
  stack_.resize(first + 1);
  stack_.back() = lanes_entry(o, s, mixed ? own : nullptr, bound, least);
  return true;
}

// round to `places` places, half to even.
bool Block::round(int32_t places) {
  const Entry a = stack_.back();
  const size_t p = stack_.size() - 1;
  if (a.scale <= places) return true;  // every row has at most that many places
  if (a.scale - places > MAX_ALIGN) return false;
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
  Entry r = lanes_entry(o, places, nullptr, a.bound / m + 1, a.least / m);
  if (a.own != nullptr) {
    uint8_t* own = own_slot(p);
    for (int64_t k = 0; k < count_; ++k) own[k] = std::min<uint8_t>(a.own[k], static_cast<uint8_t>(places));
    r.own = own;
  }
  stack_.back() = r;
  return true;
}

// c ? x : y, with c, x and y the top three values.
bool Block::select() {
  const size_t p = stack_.size() - 3;
  const Entry c = stack_[p], x = stack_[p + 1], y = stack_[p + 2];
  const int32_t s = std::max(x.scale, y.scale);
  if (s - x.scale > MAX_ALIGN || s - y.scale > MAX_ALIGN) return false;
  const int64_t mx = pow10(s - x.scale), my = pow10(s - y.scale);
  const uint64_t bx = saturated_mul(x.bound, mx), by = saturated_mul(y.bound, my);
  if (bx >= SAFE || by >= SAFE) return false;
  const bool mixed = x.own != nullptr || y.own != nullptr || x.scale != y.scale;
  int64_t* o = slot(p);
  uint8_t* own = own_slot(p);
  select_within(c, x, y, mx, my, mixed, count_, o, own);
  stack_.resize(p + 1);
  stack_.back() = lanes_entry(o, s, mixed ? own : nullptr, std::max(bx, by),
                              std::min(saturated_mul(x.least, mx), saturated_mul(y.least, my)));
  return true;
}

}  // namespace vexlor::columnar::fast
