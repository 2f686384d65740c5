// Narrow kernels: + - *, comparisons, and, or, and the unary operations.

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "columnar/block.hpp"

namespace vexlor::columnar::fast {

using namespace ops;

bool Block::two_operands(Op op) {
  const Entry& b = stack_.back();
  const Entry& a = stack_[stack_.size() - 2];
  const size_t p = stack_.size() - 2;
  const bool arith = op == Op::Add || op == Op::Sub || op == Op::Mul;
  const bool logic = op == Op::And || op == Op::Or;
  const bool aligned = op != Op::Mul && !logic;
  const int32_t s = std::max(a.scale, b.scale);
  if (aligned && (s - a.scale > MAX_ALIGN || s - b.scale > MAX_ALIGN)) return false;
  if (op == Op::Mul && a.scale + b.scale > static_cast<int32_t>(MAX_SCALE)) return false;
  // Bounds of the operands at the scale of the operation: the loops need no
  // overflow checks within them, and go wide beyond them.
  const uint64_t ba = aligned ? saturated_mul(a.bound, pow10(s - a.scale)) : a.bound;
  const uint64_t bb = aligned ? saturated_mul(b.bound, pow10(s - b.scale)) : b.bound;
  const bool safe = logic || (op == Op::Mul ? saturated_mul(ba, bb) < SAFE : ba < SAFE && bb < SAFE);
  if (!safe) return false;
  int64_t* o = slot(p);
  Entry r = lanes_entry(o, 0, nullptr, 0, 0);
  r.bound = op == Op::Mul ? saturated_mul(ba, bb) : arith ? saturated_add(ba, bb) : 1;
  if (op == Op::Mul) {
    r.least = saturated_mul(a.least, b.least);
  } else if (arith) {  // |x +- y| >= |x| - |y|
    const uint64_t la = saturated_mul(a.least, pow10(s - a.scale));
    const uint64_t lb = saturated_mul(b.least, pow10(s - b.scale));
    r.least = la > bb ? la - bb : lb > ba ? lb - ba : 0;
  }
  if (arith) own_scales(op, a, b, p, r);  // before the results overwrite a
  const Entry x = a, y = b;
  const int64_t n = count_;
  switch (op) {
    case Op::Add:
      binary_safe(x, y, s, n, o, [](int64_t u, int64_t v) { return wrap(uint64_t(u) + uint64_t(v)); });
      break;
    case Op::Sub:
      binary_safe(x, y, s, n, o, [](int64_t u, int64_t v) { return wrap(uint64_t(u) - uint64_t(v)); });
      break;
    case Op::Mul:
      binary_safe(x, y, -1, n, o, [](int64_t u, int64_t v) { return wrap(uint64_t(u) * uint64_t(v)); });
      break;
    case Op::Eq: binary_safe(x, y, s, n, o, [](int64_t u, int64_t v) -> int64_t { return u == v; }); break;
    case Op::Ne: binary_safe(x, y, s, n, o, [](int64_t u, int64_t v) -> int64_t { return u != v; }); break;
    case Op::Lt: binary_safe(x, y, s, n, o, [](int64_t u, int64_t v) -> int64_t { return u < v; }); break;
    case Op::Le: binary_safe(x, y, s, n, o, [](int64_t u, int64_t v) -> int64_t { return u <= v; }); break;
    case Op::Gt: binary_safe(x, y, s, n, o, [](int64_t u, int64_t v) -> int64_t { return u > v; }); break;
    case Op::Ge: binary_safe(x, y, s, n, o, [](int64_t u, int64_t v) -> int64_t { return u >= v; }); break;
    case Op::And:
      binary_safe(x, y, -1, n, o, [](int64_t u, int64_t v) -> int64_t { return u != 0 && v != 0; });
      break;
    default:
      binary_safe(x, y, -1, n, o, [](int64_t u, int64_t v) -> int64_t { return u != 0 || v != 0; });
      break;
  }
  stack_.pop_back();
  stack_.back() = r;
  return true;
}

// The result's scale, and each row's own scale where rows differ: a product
// with a zero factor is a plain 0; a sum with a zero term is the other term
// unchanged. Without own scales, a zero makes a difference only as a factor of
// a product with places, or as the term of a sum with the more places.
void Block::own_scales(Op op, const Entry& a, const Entry& b, size_t p, Entry& r) {
  r.scale = op == Op::Mul ? a.scale + b.scale : std::max(a.scale, b.scale);
  const bool uniform = a.own == nullptr && b.own == nullptr;
  bool zeros = false;
  if (uniform && op == Op::Mul && r.scale > 0) zeros = any_zero(a, count_) || any_zero(b, count_);
  if (uniform && op != Op::Mul && a.scale != b.scale) zeros = any_zero(a.scale > b.scale ? a : b, count_);
  if (uniform && !zeros) return;
  uint8_t* own = own_slot(p);
  // The loop for the operands' forms (constant or not, own scales or not).
  auto run = [&](auto ac, auto bc, auto ao, auto bo) {
    for (int64_t k = 0; k < count_; ++k) {
      const uint8_t oa = ao ? a.own[k] : static_cast<uint8_t>(a.scale);
      const uint8_t ob = bo ? b.own[k] : static_cast<uint8_t>(b.scale);
      const bool za = (ac ? a.c : a.v[k]) == 0, zb = (bc ? b.c : b.v[k]) == 0;
      if (op == Op::Mul) {
        own[k] = za || zb ? 0 : static_cast<uint8_t>(oa + ob);
      } else {
        own[k] = za ? ob : zb ? oa : std::max(oa, ob);
      }
    }
  };
  auto with_own = [&](auto ac, auto bc) {
    const std::true_type yes;
    const std::false_type no;
    if (a.own != nullptr && b.own != nullptr) return run(ac, bc, yes, yes);
    if (a.own != nullptr) return run(ac, bc, yes, no);
    if (b.own != nullptr) return run(ac, bc, no, yes);
    run(ac, bc, no, no);
  };
  const std::true_type yes;
  const std::false_type no;
  if (a.is_const && b.is_const) {
    with_own(yes, yes);
  } else if (a.is_const) {
    with_own(yes, no);
  } else if (b.is_const) {
    with_own(no, yes);
  } else {
    with_own(no, no);
  }
  r.own = own;
}

// Neg, Not, Abs. A negation with a zero row (which gives a negative zero) and
// a magnitude of 2^63 go wide.
bool Block::unary(Op op) {
  const Entry a = stack_.back();
  if (op != Op::Not && a.bound > static_cast<uint64_t>(INT64_MAX)) return false;
  if (op == Op::Neg && any_zero(a, count_)) return false;
  const size_t p = stack_.size() - 1;
  int64_t* o = slot(p);
  if (op == Op::Not) {
    for (int64_t k = 0; k < count_; ++k) o[k] = a.at(k) == 0;
  } else if (op == Op::Neg) {
    for (int64_t k = 0; k < count_; ++k) o[k] = -a.at(k);
  } else {
    for (int64_t k = 0; k < count_; ++k) o[k] = a.at(k) < 0 ? -a.at(k) : a.at(k);
  }
  Entry r = lanes_entry(o, op == Op::Not ? 0 : a.scale, nullptr, op == Op::Not ? 1 : a.bound, op == Op::Not ? 0 : a.least);
  if (op != Op::Not && a.own != nullptr) {
    std::memmove(own_slot(p), a.own, static_cast<size_t>(count_));
    r.own = own_slot(p);
  }
  stack_.back() = r;
  return true;
}

}  // namespace vexlor::columnar::fast
