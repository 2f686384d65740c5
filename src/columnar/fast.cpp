// The vectorised path (see fast.hpp).

#include "columnar/fast.hpp"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "columnar/runner.hpp"

namespace vexlor::columnar::fast {
namespace {

constexpr int32_t MAX_ALIGN = 18;  // 10^18 is the largest power of ten below 2^63

int64_t pow10(int32_t k) { return static_cast<int64_t>(POW10_U64[k]); }

uint64_t cost_of(OpKind k) {
  switch (k) {
    case OpKind::Add: case OpKind::Sub: case OpKind::Mul: case OpKind::Div: case OpKind::FloorDiv:
    case OpKind::Mod: case OpKind::Call:
      return 3;
    default:
      return 1;
  }
}

struct Frame {
  size_t else_at, end, height;
  bool in_else = false;
};

}  // namespace

std::optional<Plan> make_plan(const Program& program, std::span<const VarId> vars, std::optional<uint64_t> gas) {
  const size_t n = program.size();
  if (n == 0) return std::nullopt;
  Plan plan;
  std::vector<Frame> frames;
  size_t height = 0;
  uint64_t cost = 0;
  auto need = [&](size_t k) { return height >= k; };
  for (size_t pc = 0; pc <= n; ++pc) {
    while (!frames.empty() && frames.back().end == pc) {
      if (!frames.back().in_else || height != frames.back().height + 2) return std::nullopt;
      plan.steps.push_back({Op::Select});
      height = frames.back().height;
      frames.pop_back();
    }
    if (pc == n) break;
    const OpCode& op = program[pc];
    cost += cost_of(op.kind());
    switch (op.kind()) {
      case OpKind::PushConst: {
        const Decimal& c = op.constant();
        if (c.hi() != 0 || c.lo() > static_cast<uint64_t>(INT64_MAX) || (c.is_zero() && c.is_sign_negative())) {
          return std::nullopt;
        }
        const auto v = static_cast<int64_t>(c.lo());
        plan.steps.push_back({Op::Const, 0, c.is_sign_negative() ? -v : v, static_cast<int32_t>(c.scale())});
        ++height;
        break;
      }
      case OpKind::LoadVar: {
        const auto it = std::find(vars.begin(), vars.end(), op.var());
        if (it == vars.end()) return std::nullopt;
        plan.steps.push_back({Op::Load, static_cast<int32_t>(it - vars.begin())});
        ++height;
        break;
      }
      case OpKind::Add: case OpKind::Sub: case OpKind::Mul: case OpKind::And: case OpKind::Or: case OpKind::Eq:
      case OpKind::Ne: case OpKind::Lt: case OpKind::Le: case OpKind::Gt: case OpKind::Ge: {
        if (!need(2)) return std::nullopt;
        static constexpr Op OPS[] = {Op::Add, Op::Sub, Op::Mul};
        Op f;
        switch (op.kind()) {
          case OpKind::Add: case OpKind::Sub: case OpKind::Mul:
            f = OPS[static_cast<int>(op.kind()) - static_cast<int>(OpKind::Add)];
            break;
          case OpKind::And: f = Op::And; break;
          case OpKind::Or: f = Op::Or; break;
          default: f = static_cast<Op>(static_cast<int>(Op::Eq) + static_cast<int>(op.kind()) - static_cast<int>(OpKind::Eq));
        }
        plan.steps.push_back({f});
        --height;
        break;
      }
      case OpKind::Neg: case OpKind::Not:
        if (!need(1)) return std::nullopt;
        plan.steps.push_back({op.kind() == OpKind::Neg ? Op::Neg : Op::Not});
        break;
      case OpKind::Pos:
        if (!need(1)) return std::nullopt;
        break;
      case OpKind::Call: {
        const size_t args = op.arg_count();
        const std::string_view name = op.call_name();
        if (args == 0 || !need(args) || args > 64) return std::nullopt;
        if ((name == "max" || name == "min")) {
          plan.steps.push_back({name == "max" ? Op::Max : Op::Min, static_cast<int32_t>(args)});
        } else if (name == "abs" && args == 1) {
          plan.steps.push_back({Op::Abs});
        } else if (name == "round" && args == 1) {
          plan.steps.push_back({Op::Round, 0});
        } else if (name == "round" && args == 2 && plan.steps.back().op == Op::Const && plan.steps.back().scale == 0 &&
                   plan.steps.back().constant >= 0 && plan.steps.back().constant <= 28 &&
                   (frames.empty() || pc - 1 != frames.back().else_at)) {
          const int32_t places = static_cast<int32_t>(plan.steps.back().constant);
          plan.steps.back() = {Op::Round, places};
        } else {
          return std::nullopt;
        }
        height -= args - 1;
        break;
      }
      case OpKind::JumpIfFalse: {
        const size_t t = op.target();
        if (!need(1) || t <= pc + 1 || t >= n || program[t - 1].kind() != OpKind::Jump) return std::nullopt;
        const size_t u = program[t - 1].target();
        if (u < t || u > n) return std::nullopt;
        if (!frames.empty() && u > (frames.back().in_else ? frames.back().end : frames.back().else_at - 1)) {
          return std::nullopt;
        }
        frames.push_back({t, u, height});  // the condition stays on the stack for the Select
        break;
      }
      case OpKind::Jump:
        if (frames.empty() || frames.back().in_else || frames.back().else_at != pc + 1 ||
            height != frames.back().height + 1) {
          return std::nullopt;
        }
        frames.back().in_else = true;
        break;
      default:
        return std::nullopt;
    }
    plan.depth = std::max(plan.depth, height);
  }
  if (!frames.empty() || height != 1) return std::nullopt;
  if (gas && cost > *gas) return std::nullopt;
  return plan;
}

bool loadable(const Column& column, int64_t row, int64_t count) {
  const size_t first = column.chunk_of(row);
  const bool decimal = column.chunks[first].type == ValueType::Decimal;
  const int32_t scale = column.chunks[first].scale;
  for (size_t c = first; c < column.chunks.size() && column.starts[c] < row + count; ++c) {
    const ArrayView& v = column.chunks[c];
    if (v.dictionary || (v.type == ValueType::Decimal) != decimal) return false;
    switch (v.type) {
      case ValueType::Bool: case ValueType::Int8: case ValueType::Int16: case ValueType::Int32: case ValueType::Int64:
      case ValueType::UInt8: case ValueType::UInt16: case ValueType::UInt32: case ValueType::UInt64:
        break;
      case ValueType::Decimal:
        if (v.scale < 0 || v.scale > static_cast<int32_t>(MAX_SCALE) || v.scale != scale) return false;
        break;
      default:
        return false;
    }
  }
  return true;
}

namespace {

template <class T>
void load_ints(const ArrayView& v, int64_t at, int64_t count, int64_t* out, uint8_t* slow) {
  const T* p = static_cast<const T*>(v.values) + v.offset + at;
  for (int64_t k = 0; k < count; ++k) {
    out[k] = static_cast<int64_t>(p[k]);
    if constexpr (std::is_same_v<T, uint64_t>) slow[k] |= p[k] > static_cast<uint64_t>(INT64_MAX);
  }
}

void load_chunk(const ArrayView& v, int64_t at, int64_t count, int64_t* out, uint8_t* slow) {
  switch (v.type) {
    case ValueType::Int8: load_ints<int8_t>(v, at, count, out, slow); break;
    case ValueType::Int16: load_ints<int16_t>(v, at, count, out, slow); break;
    case ValueType::Int32: load_ints<int32_t>(v, at, count, out, slow); break;
    case ValueType::Int64: load_ints<int64_t>(v, at, count, out, slow); break;
    case ValueType::UInt8: load_ints<uint8_t>(v, at, count, out, slow); break;
    case ValueType::UInt16: load_ints<uint16_t>(v, at, count, out, slow); break;
    case ValueType::UInt32: load_ints<uint32_t>(v, at, count, out, slow); break;
    case ValueType::UInt64: load_ints<uint64_t>(v, at, count, out, slow); break;
    case ValueType::Bool:
      for (int64_t k = 0; k < count; ++k) {
        const int64_t i = v.offset + at + k;
        out[k] = (static_cast<const uint8_t*>(v.values)[i >> 3] >> (i & 7)) & 1;
      }
      break;
    case ValueType::Decimal:
      if (v.decimal_bytes == 16) {
        const auto* w = static_cast<const unsigned char*>(v.values) + 16 * (v.offset + at);
        for (int64_t k = 0; k < count; ++k) {
          int64_t lo, hi;
          std::memcpy(&lo, w + 16 * k, 8);
          std::memcpy(&hi, w + 16 * k + 8, 8);
          out[k] = lo;
          slow[k] |= hi != (lo >> 63);
        }
      } else if (v.decimal_bytes == 8) {
        load_ints<int64_t>(v, at, count, out, slow);
      } else {
        load_ints<int32_t>(v, at, count, out, slow);
      }
      break;
    default:
      std::memset(slow, 1, static_cast<size_t>(count));
  }
  if (v.validity != nullptr) {
    for (int64_t k = 0; k < count; ++k) slow[k] |= v.is_null(at + k);
  }
}

}  // namespace

Lanes load_lanes(const Column& column, int64_t row, int64_t count, int64_t* out, uint8_t* slow) {
  size_t c = column.chunk_of(row);
  const int32_t scale = column.chunks[c].type == ValueType::Decimal ? column.chunks[c].scale : 0;
  const int64_t* values = out;
  const int64_t rows = count;
  while (count > 0) {
    const ArrayView& v = column.chunks[c];
    const int64_t at = row - column.starts[c];
    const int64_t take = std::min(count, v.length - at);
    load_chunk(v, at, take, out, slow);
    out += take;
    slow += take;
    row += take;
    count -= take;
    ++c;
  }
  uint64_t bound = 0, least = UINT64_MAX;
  for (int64_t k = 0; k < rows; ++k) {
    const uint64_t sign = static_cast<uint64_t>(values[k] >> 63);
    const uint64_t magnitude = (static_cast<uint64_t>(values[k]) ^ sign) - sign;
    bound = std::max(bound, magnitude);
    least = std::min(least, magnitude);
  }
  return {values, scale, bound, least};
}

namespace {

// A value on the machine's stack: a block of coefficients (or one constant) at
// `scale`; `own` holds each row's own scale when rows differ (the coefficients
// stay at `scale`, with trailing zeros below a row's own scale).
struct Entry {
  const int64_t* v = nullptr;
  int64_t c = 0;
  bool is_const = false;
  int32_t scale = 0;
  const uint8_t* own = nullptr;
  uint64_t bound = UINT64_MAX;  // no magnitude is above it
  uint64_t least = 0;           // nor below it (0: a row may be zero)
  int64_t at(int64_t k) const { return is_const ? c : v[k]; }
  uint8_t own_at(int64_t k) const { return own != nullptr ? own[k] : static_cast<uint8_t>(scale); }
};

// x * 10^k, marking an overflow.
inline int64_t up(int64_t x, int64_t m, uint8_t& bad) {
  int64_t r;
  bad |= __builtin_mul_overflow(x, m, &r);
  return r;
}

template <bool AC, bool BC, bool UA, bool UB, class F>
void binary_loop(const Entry& a, const Entry& b, int64_t ma, int64_t mb, int64_t count, int64_t* out, uint8_t* slow,
                 F f) {
  for (int64_t k = 0; k < count; ++k) {
    uint8_t bad = 0;
    int64_t x = AC ? a.c : a.v[k];
    int64_t y = BC ? b.c : b.v[k];
    if constexpr (UA) x = up(x, ma, bad);
    if constexpr (UB) y = up(y, mb, bad);
    out[k] = f(x, y, bad);
    slow[k] |= bad;
  }
}

template <bool AC, bool BC, class F>
void binary_scaled(const Entry& a, const Entry& b, int64_t ma, int64_t mb, int64_t count, int64_t* out, uint8_t* slow,
                   F f) {
  if (ma == 1 && mb == 1) return binary_loop<AC, BC, false, false>(a, b, ma, mb, count, out, slow, f);
  if (ma == 1) return binary_loop<AC, BC, false, true>(a, b, ma, mb, count, out, slow, f);
  if (mb == 1) return binary_loop<AC, BC, true, false>(a, b, ma, mb, count, out, slow, f);
  binary_loop<AC, BC, true, true>(a, b, ma, mb, count, out, slow, f);
}

// f over a and b, first brought to scale `s` (a negative `s`: as they are).
template <class F>
void binary(const Entry& a, const Entry& b, int32_t s, int64_t count, int64_t* out, uint8_t* slow, F f) {
  const int64_t ma = s < 0 ? 1 : pow10(s - a.scale), mb = s < 0 ? 1 : pow10(s - b.scale);
  if (a.is_const && b.is_const) {
    binary_scaled<true, true>(a, b, ma, mb, count, out, slow, f);
  } else if (a.is_const) {
    binary_scaled<true, false>(a, b, ma, mb, count, out, slow, f);
  } else if (b.is_const) {
    binary_scaled<false, true>(a, b, ma, mb, count, out, slow, f);
  } else {
    binary_scaled<false, false>(a, b, ma, mb, count, out, slow, f);
  }
}

// Two's complement wrapping (only rows already marked for the single-row path can wrap).
inline int64_t wrap(uint64_t v) { return static_cast<int64_t>(v); }

// The same for operands whose bounds rule out any overflow: plain arithmetic.
template <bool AC, bool BC, bool UA, bool UB, class G>
void safe_loop(const Entry& a, const Entry& b, int64_t ma, int64_t mb, int64_t count, int64_t* out, G g) {
  for (int64_t k = 0; k < count; ++k) {
    int64_t x = AC ? a.c : a.v[k];
    int64_t y = BC ? b.c : b.v[k];
    if constexpr (UA) x = wrap(static_cast<uint64_t>(x) * static_cast<uint64_t>(ma));
    if constexpr (UB) y = wrap(static_cast<uint64_t>(y) * static_cast<uint64_t>(mb));
    out[k] = g(x, y);
  }
}

template <bool AC, bool BC, class G>
void safe_scaled(const Entry& a, const Entry& b, int64_t ma, int64_t mb, int64_t count, int64_t* out, G g) {
  if (ma == 1 && mb == 1) return safe_loop<AC, BC, false, false>(a, b, ma, mb, count, out, g);
  if (ma == 1) return safe_loop<AC, BC, false, true>(a, b, ma, mb, count, out, g);
  if (mb == 1) return safe_loop<AC, BC, true, false>(a, b, ma, mb, count, out, g);
  safe_loop<AC, BC, true, true>(a, b, ma, mb, count, out, g);
}

template <class G>
void binary_safe(const Entry& a, const Entry& b, int32_t s, int64_t count, int64_t* out, G g) {
  const int64_t ma = s < 0 ? 1 : pow10(s - a.scale), mb = s < 0 ? 1 : pow10(s - b.scale);
  if (a.is_const && b.is_const) {
    safe_scaled<true, true>(a, b, ma, mb, count, out, g);
  } else if (a.is_const) {
    safe_scaled<true, false>(a, b, ma, mb, count, out, g);
  } else if (b.is_const) {
    safe_scaled<false, true>(a, b, ma, mb, count, out, g);
  } else {
    safe_scaled<false, false>(a, b, ma, mb, count, out, g);
  }
}

constexpr uint64_t SAFE = uint64_t{1} << 62;  // sums of two magnitudes below it stay below 2^63

uint64_t saturated_mul(uint64_t a, uint64_t b) {
  uint64_t r;
  return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
}
uint64_t saturated_add(uint64_t a, uint64_t b) {
  uint64_t r;
  return __builtin_add_overflow(a, b, &r) ? UINT64_MAX : r;
}
uint64_t magnitude_of(int64_t v) { return v < 0 ? uint64_t{0} - static_cast<uint64_t>(v) : static_cast<uint64_t>(v); }

// True when some row of `e` may be zero.
bool any_zero(const Entry& e, int64_t count) {
  if (e.least > 0) return false;
  if (e.is_const) return e.c == 0;
  int64_t k = 0;
  bool zero = false;
#if defined(__SSE2__)
  // A 64-bit lane is zero when both its 32-bit halves are.
  const __m128i none = _mm_setzero_si128();
  __m128i found = none;
  for (; k + 4 <= count; k += 4) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(e.v + k));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(e.v + k + 2));
    const __m128i ex = _mm_cmpeq_epi32(x, none), ey = _mm_cmpeq_epi32(y, none);
    found = _mm_or_si128(found, _mm_and_si128(ex, _mm_shuffle_epi32(ex, _MM_SHUFFLE(2, 3, 0, 1))));
    found = _mm_or_si128(found, _mm_and_si128(ey, _mm_shuffle_epi32(ey, _MM_SHUFFLE(2, 3, 0, 1))));
  }
  zero = _mm_movemask_epi8(found) != 0;
#endif
  for (; k < count; ++k) zero |= e.v[k] == 0;
  return zero;
}

// max or min of two values within bounds: y where takes_y(x, y), else x.
template <bool XC, bool YC, class F>
void pick2_loop(const Entry& x, const Entry& y, int64_t mx, int64_t my, bool mixed, int64_t count, int64_t* out,
                uint8_t* own, F takes_y) {
  for (int64_t k = 0; k < count; ++k) {
    const int64_t xv = wrap(static_cast<uint64_t>(XC ? x.c : x.v[k]) * static_cast<uint64_t>(mx));
    const int64_t yv = wrap(static_cast<uint64_t>(YC ? y.c : y.v[k]) * static_cast<uint64_t>(my));
    const bool take = takes_y(xv, yv);
    out[k] = take ? yv : xv;
    if (mixed) own[k] = take ? y.own_at(k) : x.own_at(k);
  }
}

template <class F>
void pick2(const Entry& x, const Entry& y, int64_t mx, int64_t my, bool mixed, int64_t count, int64_t* out,
           uint8_t* own, F takes_y) {
  if (x.is_const && y.is_const) return pick2_loop<true, true>(x, y, mx, my, mixed, count, out, own, takes_y);
  if (x.is_const) return pick2_loop<true, false>(x, y, mx, my, mixed, count, out, own, takes_y);
  if (y.is_const) return pick2_loop<false, true>(x, y, mx, my, mixed, count, out, own, takes_y);
  pick2_loop<false, false>(x, y, mx, my, mixed, count, out, own, takes_y);
}

// c ? x : y for every row, within bounds.
template <bool XC, bool YC>
void select_loop(const Entry& c, const Entry& x, const Entry& y, int64_t mx, int64_t my, bool mixed, int64_t count,
                 int64_t* out, uint8_t* own) {
  for (int64_t k = 0; k < count; ++k) {
    const bool take_x = c.at(k) != 0;
    const int64_t xv = wrap(static_cast<uint64_t>(XC ? x.c : x.v[k]) * static_cast<uint64_t>(mx));
    const int64_t yv = wrap(static_cast<uint64_t>(YC ? y.c : y.v[k]) * static_cast<uint64_t>(my));
    out[k] = take_x ? xv : yv;
    if (mixed) own[k] = take_x ? x.own_at(k) : y.own_at(k);
  }
}

void select_within(const Entry& c, const Entry& x, const Entry& y, int64_t mx, int64_t my, bool mixed, int64_t count,
                   int64_t* out, uint8_t* own) {
  if (x.is_const && y.is_const) return select_loop<true, true>(c, x, y, mx, my, mixed, count, out, own);
  if (x.is_const) return select_loop<true, false>(c, x, y, mx, my, mixed, count, out, own);
  if (y.is_const) return select_loop<false, true>(c, x, y, mx, my, mixed, count, out, own);
  select_loop<false, false>(c, x, y, mx, my, mixed, count, out, own);
}

template <int64_t M>
void round_block(const Entry& a, int64_t count, int64_t* out) {
  for (int64_t k = 0; k < count; ++k) {
    const int64_t x = a.at(k);
    const int64_t q = x / M, r = x % M;
    const int64_t twice = 2 * (r < 0 ? -r : r);
    out[k] = (twice > M || (twice == M && (q & 1) != 0)) ? (x < 0 ? q - 1 : q + 1) : q;
  }
}

// Half to even division of x by 10^k (k >= 1).
inline int64_t round_div(int64_t x, int64_t m) {
  const int64_t q = x / m, r = x % m;
  const int64_t twice = 2 * (r < 0 ? -r : r);
  if (twice > m || (twice == m && (q & 1) != 0)) return x < 0 ? q - 1 : q + 1;
  return q;
}

}  // namespace

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
