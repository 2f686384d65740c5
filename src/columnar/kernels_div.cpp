// Division and remainder of values whose coefficients fit 64 bits, by the rule
// of div_impl and rem_impl, in 128-bit integers: the quotient developed nine
// digits at a time while it stays below 2^96 (up to 28 places), rounded half
// to even, then stripped of trailing zeros by the same fixed pattern.

#include <algorithm>
#include <array>

#include "columnar/scalar.hpp"
#include "decimal/decimal.hpp"

namespace vexlor::columnar::fast {

#if defined(__SIZEOF_INT128__) && !defined(VEXLOR_PORTABLE)

namespace {

using u128 = unsigned __int128;
constexpr u128 MAX96 = (u128{1} << 96) - 1;
constexpr uint64_t P10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};
// The largest q with q * 10^x below 2^96.
constexpr u128 ROOM[] = {MAX96 / 1, MAX96 / 10, MAX96 / 100, MAX96 / 1000, MAX96 / 10000, MAX96 / 100000,
                         MAX96 / 1000000, MAX96 / 10000000, MAX96 / 100000000, MAX96 / 1000000000};

// The largest value that times 10^k stays within 128 bits.
constexpr auto HEADROOM = [] {
  std::array<u128, 20> t{};
  for (size_t k = 0; k < t.size(); ++k) t[k] = ~u128{0} / POW10_U64[k];
  return t;
}();

// x * 10^k (k <= 38) if it stays within 128 bits.
[[gnu::always_inline]] inline bool scale_up(u128& x, uint32_t k) {
  if (k > 19) {
    if (x > HEADROOM[19]) return false;
    x *= POW10_U64[19];
    k -= 19;
  }
  if (x > HEADROOM[k]) return false;
  x *= POW10_U64[k];
  return true;
}

// (hi * 2^64 + lo) / d with hi < d: one machine division where there is one.
inline uint64_t divide_words(uint64_t hi, uint64_t lo, uint64_t d, uint64_t& rem) {
#if defined(__x86_64__)
  uint64_t q;
  asm("divq %4" : "=a"(q), "=d"(rem) : "a"(lo), "d"(hi), "rm"(d));
  return q;
#else
  const u128 n = static_cast<u128>(hi) << 64 | lo;
  rem = static_cast<uint64_t>(n % d);
  return static_cast<uint64_t>(n / d);
#endif
}

// q / d and its remainder, for a 64-bit d.
inline u128 divide(u128 q, uint64_t d, uint64_t& rem) {
  const auto hi = static_cast<uint64_t>(q >> 64);
  const uint64_t top = hi / d;
  const uint64_t low = divide_words(hi % d, static_cast<uint64_t>(q), d, rem);
  return static_cast<u128>(top) << 64 | low;
}

// n / d and its remainder for d >= 2, from m = floor((2^64 - 1) / d): the
// estimate is at most two below the quotient.
inline uint64_t by_reciprocal(uint64_t n, uint64_t d, uint64_t m, uint64_t& rem) {
  auto q = static_cast<uint64_t>((static_cast<u128>(n) * m) >> 64);
  uint64_t r = n - q * d;
  while (r >= d) {
    ++q;
    r -= d;
  }
  rem = r;
  return q;
}

// q / 10^k when q is a multiple of it (else q unchanged, false).
inline bool divisible(u128& q, uint64_t m) {
  uint64_t rem;
  const u128 d = divide(q, m, rem);
  if (rem != 0) return false;
  q = d;
  return true;
}

Decimal make(u128 q, int s, bool negative) {
  return Decimal::from_parts(static_cast<uint64_t>(q), static_cast<uint32_t>(q >> 64), static_cast<uint32_t>(s),
                             negative && q != 0);
}

// q / 10, half to even on the exact value (`sticky`: a remainder below the digit).
u128 drop_digit(u128 q, bool sticky) {
  uint64_t d;
  q = divide(q, 10, d);
  if (d > 5 || (d == 5 && (sticky || (q & 1) != 0))) ++q;
  return q;
}

}  // namespace

uint64_t reciprocal(const Decimal& b) {
  return b.hi() == 0 && b.lo() >= 2 && b.lo() < SMALL_DIVISOR ? ~uint64_t{0} / b.lo() : 0;
}

bool quotient(const Decimal& a, const Decimal& b, Decimal& out) { return quotient(a, b, reciprocal(b), out); }

bool quotient(const Decimal& a, const Decimal& b, uint64_t m, Decimal& out) {
  if ((a.hi() | b.hi()) != 0) {
    const ArithResult r = div_impl(a, b);
    out = r.value;
    return r.is_ok();
  }
  const uint64_t A = a.lo(), B = b.lo();
  if (A == 0) {
    out = Decimal();
    return true;
  }
  int s = static_cast<int>(a.scale()) - static_cast<int>(b.scale());
  uint64_t r;
  u128 q = m != 0 ? by_reciprocal(A, B, m, r) : A / B;
  if (m == 0) r = A % B;
  bool inexact = false;
  for (;;) {
    int x;
    if (r == 0) {
      if (s >= 0) break;
      x = std::min(9, -s);
    } else {
      inexact = true;
      x = s >= 28 ? 0 : std::min(9, 28 - s);
      while (x > 0 && q > ROOM[x]) --x;
      if (x == 0) {
        if (s < 0) return false;
        if (r > B - r || (r == B - r && (q & 1) != 0)) ++q;
        if (q > MAX96) {
          if (s == 0) return false;
          q = drop_digit(q, true);
          --s;
        }
        break;
      }
    }
    s += x;
    q *= P10[x];
    if (q > MAX96) return false;
    if (m != 0) {  // r * 10^x within 64 bits
      q += by_reciprocal(r * P10[x], B, m, r);
    } else {
      const u128 t = static_cast<u128>(r) * P10[x];  // below B * 2^30: one division
      q += divide_words(static_cast<uint64_t>(t >> 64), static_cast<uint64_t>(t), B, r);
    }
    if (q > MAX96) {
      if (s == 0) return false;
      q = drop_digit(q, r != 0);
      --s;
      break;
    }
  }
  if (inexact) {
    while (static_cast<uint32_t>(q) == 0 && s >= 8 && divisible(q, 100000000)) s -= 8;
    if ((q & 15) == 0 && s >= 4 && divisible(q, 10000)) s -= 4;
    if ((q & 3) == 0 && s >= 2 && divisible(q, 100)) s -= 2;
    if ((q & 1) == 0 && s >= 1 && divisible(q, 10)) s -= 1;
  }
  out = make(q, s, a.is_sign_negative() != b.is_sign_negative());
  return true;
}

bool remainder(const Decimal& a, const Decimal& b, Decimal& out) {
  const uint32_t sa = a.scale(), sb = b.scale();
  const uint32_t s = std::max(sa, sb);
  if ((a.hi() | b.hi()) != 0 || s - std::min(sa, sb) > 19) {
    const ArithResult r = rem_impl(a, b);
    out = r.value;
    return r.is_ok();
  }
  if (a.is_zero()) {
    out = Decimal();
    return true;
  }
  // Both at the larger scale: at most 64 + 64 bits.
  const u128 x = static_cast<u128>(a.lo()) * (s == sa ? 1 : POW10_U64[s - sa]);
  const u128 y = static_cast<u128>(b.lo()) * (s == sb ? 1 : POW10_U64[s - sb]);
  if (x == y) {
    out = Decimal();
  } else if (x < y) {
    out = a;
  } else if ((x >> 64) == 0) {  // (then y too): a 64-bit remainder
    out = make(static_cast<uint64_t>(x) % static_cast<uint64_t>(y), static_cast<int>(s), a.is_sign_negative());
  } else {
    out = make(x % y, static_cast<int>(s), a.is_sign_negative());
  }
  return true;
}

bool sum(const Decimal& a, const Decimal& b, bool negate, Decimal& out) {
  const uint32_t sa = a.scale(), sb = b.scale();
  const uint32_t s = std::max(sa, sb), d = s - std::min(sa, sb);
  if (a.is_zero() || b.is_zero()) {
    const ArithResult r = negate ? sub_impl(a, b) : add_impl(a, b);
    out = r.value;
    return r.is_ok();
  }
  // Exact at the larger scale while the aligned operand stays within 128 bits.
  u128 x = static_cast<u128>(a.hi()) << 64 | a.lo(), y = static_cast<u128>(b.hi()) << 64 | b.lo();
  // (each in its own branch: a reference to either would keep both in memory)
  if (sa < sb ? !scale_up(x, d) : !scale_up(y, d)) {
    const ArithResult r = negate ? sub_impl(a, b) : add_impl(a, b);
    out = r.value;
    return r.is_ok();
  }
  const bool na = a.is_sign_negative(), nb = b.is_sign_negative() != negate;
  u128 z;
  bool negative;
  if (na == nb) {
    z = x + y;
    negative = na;
    if (z < x) z = ~u128{0};  // beyond 96 bits either way
  } else if (x >= y) {
    z = x - y;
    negative = na;
  } else {
    z = y - x;
    negative = nb;
  }
  if (z > MAX96) {  // the fewest digits dropped that bring it below 2^96, half to even
    uint32_t k = 1;
    for (;; ++k) {
      if (k > s || k > 19) {
        const ArithResult r = negate ? sub_impl(a, b) : add_impl(a, b);
        out = r.value;
        return r.is_ok();
      }
      uint64_t rem;
      const uint64_t m = POW10_U64[k];
      u128 q = divide(z, m, rem);
      if (q > MAX96) continue;
      if (rem > m - rem || (rem == m - rem && (q & 1) != 0)) ++q;
      if (q <= MAX96) {
        z = q;
        break;
      }
    }
    out = make(z, static_cast<int>(s - k), negative);
    return true;
  }
  out = make(z, static_cast<int>(s), negative);
  return true;
}

namespace {

u128 coefficient(const Decimal& a) { return static_cast<u128>(a.hi()) << 64 | a.lo(); }

// The integer part of a's coefficient at scale s (1..28), and whether a fraction was dropped.
u128 whole(const Decimal& a, uint32_t s, bool& fraction) {
  uint64_t rem;
  if (s <= 19) {
    const u128 q = divide(coefficient(a), POW10_U64[s], rem);
    fraction = rem != 0;
    return q;
  }
  const auto top = static_cast<uint64_t>(divide(coefficient(a), POW10_U64[19], rem));  // below 2^34
  fraction = rem != 0 || top % POW10_U64[s - 19] != 0;
  return top / POW10_U64[s - 19];
}

}  // namespace

Decimal rounded(const Decimal& a, uint32_t places) {
  const uint32_t s = a.scale();
  if (places >= s) return a;
  const uint32_t k = s - places;
  uint64_t r;
  if (k <= 19) {
    const uint64_t m = POW10_U64[k];
    u128 q = divide(coefficient(a), m, r);
    if (r > m - r || (r == m - r && (q & 1) != 0)) ++q;
    return make(q, static_cast<int>(places), a.is_sign_negative());
  }
  // Two steps: by 10^19 (leaving below 2^34), then by 10^(k - 19); the half
  // is decided by the upper remainder, the lower one breaking a tie.
  uint64_t low;
  const auto top = static_cast<uint64_t>(divide(coefficient(a), POW10_U64[19], low));
  const uint64_t m = POW10_U64[k - 19];
  uint64_t q = top / m;
  r = top % m;
  if (2 * r > m || (2 * r == m && (low != 0 || (q & 1) != 0))) ++q;
  return make(q, static_cast<int>(places), a.is_sign_negative());
}

Decimal floored(const Decimal& a) {
  const uint32_t s = a.scale();
  if (s == 0) return a;
  bool fraction;
  const u128 q = whole(a, s, fraction);
  if (!a.is_sign_negative()) return make(q, 0, false);
  if (!fraction) return Decimal::from_parts(static_cast<uint64_t>(q), static_cast<uint32_t>(q >> 64), 0, true);
  return make(q + 1, 0, true);
}

Decimal ceiled(const Decimal& a) {
  const uint32_t s = a.scale();
  if (s == 0) return a;
  bool fraction;
  const u128 q = whole(a, s, fraction);
  if (a.is_sign_negative()) return Decimal::from_parts(static_cast<uint64_t>(q), static_cast<uint32_t>(q >> 64), 0, true);
  return make(fraction ? q + 1 : q, 0, false);
}

#else

uint64_t reciprocal(const Decimal&) { return 0; }
bool quotient(const Decimal& a, const Decimal& b, uint64_t, Decimal& out) {
  const ArithResult r = div_impl(a, b);
  out = r.value;
  return r.is_ok();
}
bool quotient(const Decimal& a, const Decimal& b, Decimal& out) { return quotient(a, b, 0, out); }
bool remainder(const Decimal& a, const Decimal& b, Decimal& out) {
  const ArithResult r = rem_impl(a, b);
  out = r.value;
  return r.is_ok();
}
bool sum(const Decimal& a, const Decimal& b, bool negate, Decimal& out) {
  const ArithResult r = negate ? sub_impl(a, b) : add_impl(a, b);
  out = r.value;
  return r.is_ok();
}
Decimal rounded(const Decimal& a, uint32_t places) { return a.round_dp(places); }
Decimal floored(const Decimal& a) { return a.floor(); }
Decimal ceiled(const Decimal& a) { return a.ceil(); }

#endif

}  // namespace vexlor::columnar::fast
