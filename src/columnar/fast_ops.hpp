#pragma once
// The loops of the vectorised machine over narrow lanes (internal to the machine).

#include <algorithm>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "columnar/fast.hpp"

namespace vexlor::columnar::fast::ops {

inline constexpr int32_t MAX_ALIGN = 18;  // 10^18 is the largest power of ten below 2^63

inline int64_t pow10(int32_t k) { return static_cast<int64_t>(POW10_U64[k]); }

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
  // Wide lanes: a full decimal per row (`w`), or `d` for every row (is_const).
  bool wide = false;
  const Decimal* w = nullptr;
  Decimal d;
  const uint8_t* null = nullptr;   // null rows, or none
  uint64_t gas = 0;                // each row's gas so far, or `gas_v[k]` per row
  const uint64_t* gas_v = nullptr;
  int64_t at(int64_t k) const { return is_const ? c : v[k]; }
  uint8_t own_at(int64_t k) const { return own != nullptr ? own[k] : static_cast<uint8_t>(scale); }
};

// Narrow lanes.
inline Entry lanes_entry(const int64_t* v, int32_t scale, const uint8_t* own, uint64_t bound, uint64_t least) {
  Entry e;
  e.v = v;
  e.scale = scale;
  e.own = own;
  e.bound = bound;
  e.least = least;
  return e;
}

// Two's complement wrapping (only rows already marked for the single-row path can wrap).
inline int64_t wrap(uint64_t v) { return static_cast<int64_t>(v); }

// The same for operands whose bounds rule out any overflow: plain arithmetic.
// MA, MB: the factors that bring a and b to the operation's scale, when known
// here (a multiplication by a constant vectorises as shifts and additions); 0:
// the runtime factors ma, mb.
template <bool AC, bool BC, int64_t MA, int64_t MB, class G>
void safe_loop(const Entry& a, const Entry& b, int64_t ma, int64_t mb, int64_t count, int64_t* out, G g) {
  const uint64_t fa = MA == 0 ? static_cast<uint64_t>(ma) : static_cast<uint64_t>(MA);
  const uint64_t fb = MB == 0 ? static_cast<uint64_t>(mb) : static_cast<uint64_t>(MB);
  for (int64_t k = 0; k < count; ++k) {
    int64_t x = AC ? a.c : a.v[k];
    int64_t y = BC ? b.c : b.v[k];
    if constexpr (MA != 1) x = wrap(static_cast<uint64_t>(x) * fa);
    if constexpr (MB != 1) y = wrap(static_cast<uint64_t>(y) * fb);
    out[k] = g(x, y);
  }
}

// One operand brought up by `m` (the other as it is): the loop for that factor.
template <bool AC, bool BC, bool FIRST, class G>
void safe_one_scaled(const Entry& a, const Entry& b, int64_t m, int64_t count, int64_t* out, G g) {
  auto run = [&]<int64_t M>() {
    if constexpr (FIRST) {
      safe_loop<AC, BC, M, 1>(a, b, m, 1, count, out, g);
    } else {
      safe_loop<AC, BC, 1, M>(a, b, 1, m, count, out, g);
    }
  };
  switch (m) {
    case 1: return run.template operator()<1>();
    case 10: return run.template operator()<10>();
    case 100: return run.template operator()<100>();
    case 1000: return run.template operator()<1000>();
    case 10000: return run.template operator()<10000>();
    default: return run.template operator()<0>();
  }
}

template <bool AC, bool BC, class G>
void safe_scaled(const Entry& a, const Entry& b, int64_t ma, int64_t mb, int64_t count, int64_t* out, G g) {
  if (mb == 1) return safe_one_scaled<AC, BC, true>(a, b, ma, count, out, g);
  if (ma == 1) return safe_one_scaled<AC, BC, false>(a, b, mb, count, out, g);
  safe_loop<AC, BC, 0, 0>(a, b, ma, mb, count, out, g);
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

inline constexpr uint64_t SAFE = uint64_t{1} << 62;  // sums of two magnitudes below it stay below 2^63

inline uint64_t saturated_mul(uint64_t a, uint64_t b) {
  uint64_t r;
  return __builtin_mul_overflow(a, b, &r) ? UINT64_MAX : r;
}
inline uint64_t saturated_add(uint64_t a, uint64_t b) {
  uint64_t r;
  return __builtin_add_overflow(a, b, &r) ? UINT64_MAX : r;
}
inline uint64_t magnitude_of(int64_t v) { return v < 0 ? uint64_t{0} - static_cast<uint64_t>(v) : static_cast<uint64_t>(v); }

// True when some row of `e` may be zero.
inline bool any_zero(const Entry& e, int64_t count) {
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

inline void select_within(const Entry& c, const Entry& x, const Entry& y, int64_t mx, int64_t my, bool mixed, int64_t count,
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

}  // namespace vexlor::columnar::fast::ops
