#pragma once
// Unsigned 128-bit arithmetic for the decimal code. With GCC's unsigned __int128
// `u128` is the native type; with VEXLOR_PORTABLE (or on targets without it, such
// as 32-bit x86) it is a two-word struct with the same operators, so the decimal
// algorithms are written once. Use only the operations below: construction from
// u64, lo64/hi64, make_u128, mul64, + - * / % << >> & | ^ ~, comparisons, and
// bit_length. Never cast a u128 to an integer type directly; use lo64().

#include <bit>
#include <cstdint>

#if defined(__SIZEOF_INT128__) && !defined(VEXLOR_PORTABLE)
#define VEXLOR_NATIVE_INT128 1
#endif

namespace vexlor::wide {

#ifdef VEXLOR_NATIVE_INT128

using u128 = unsigned __int128;

constexpr u128 make_u128(uint64_t hi, uint64_t lo) { return (u128(hi) << 64) | lo; }
constexpr uint64_t lo64(u128 v) { return static_cast<uint64_t>(v); }
constexpr uint64_t hi64(u128 v) { return static_cast<uint64_t>(v >> 64); }
constexpr u128 mul64(uint64_t a, uint64_t b) { return u128(a) * b; }

#else

struct u128 {
  uint64_t lo = 0;
  uint64_t hi = 0;
  constexpr u128() = default;
  constexpr u128(uint64_t v) : lo(v), hi(0) {}  // NOLINT: implicit like the native type
  constexpr u128(uint64_t h, uint64_t l, int) : lo(l), hi(h) {}
};

constexpr u128 make_u128(uint64_t hi, uint64_t lo) { return u128(hi, lo, 0); }
constexpr uint64_t lo64(u128 v) { return v.lo; }
constexpr uint64_t hi64(u128 v) { return v.hi; }

constexpr u128 mul64(uint64_t a, uint64_t b) {
  const uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32;
  const uint64_t b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
  const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
  const uint64_t lo = (mid << 32) | (p00 & 0xFFFFFFFFu);
  const uint64_t hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
  return make_u128(hi, lo);
}

constexpr bool operator==(u128 a, u128 b) { return a.lo == b.lo && a.hi == b.hi; }
constexpr bool operator!=(u128 a, u128 b) { return !(a == b); }
constexpr bool operator<(u128 a, u128 b) { return a.hi != b.hi ? a.hi < b.hi : a.lo < b.lo; }
constexpr bool operator>(u128 a, u128 b) { return b < a; }
constexpr bool operator<=(u128 a, u128 b) { return !(b < a); }
constexpr bool operator>=(u128 a, u128 b) { return !(a < b); }

constexpr u128 operator+(u128 a, u128 b) {
  const uint64_t lo = a.lo + b.lo;
  return make_u128(a.hi + b.hi + (lo < a.lo), lo);
}
constexpr u128 operator-(u128 a, u128 b) {
  return make_u128(a.hi - b.hi - (a.lo < b.lo), a.lo - b.lo);
}
constexpr u128 operator*(u128 a, u128 b) {
  u128 p = mul64(a.lo, b.lo);
  p.hi += a.lo * b.hi + a.hi * b.lo;
  return p;
}
constexpr u128 operator&(u128 a, u128 b) { return make_u128(a.hi & b.hi, a.lo & b.lo); }
constexpr u128 operator|(u128 a, u128 b) { return make_u128(a.hi | b.hi, a.lo | b.lo); }
constexpr u128 operator^(u128 a, u128 b) { return make_u128(a.hi ^ b.hi, a.lo ^ b.lo); }
constexpr u128 operator~(u128 a) { return make_u128(~a.hi, ~a.lo); }
constexpr u128 operator<<(u128 a, unsigned n) {
  if (n == 0) return a;
  if (n >= 128) return 0;
  if (n >= 64) return make_u128(a.lo << (n - 64), 0);
  return make_u128((a.hi << n) | (a.lo >> (64 - n)), a.lo << n);
}
constexpr u128 operator>>(u128 a, unsigned n) {
  if (n == 0) return a;
  if (n >= 128) return 0;
  if (n >= 64) return u128(a.hi >> (n - 64));
  return make_u128(a.hi >> n, (a.lo >> n) | (a.hi << (64 - n)));
}

// Quotient and remainder; the divisor must not be zero.
struct DivMod128 {
  u128 quot;
  u128 rem;
};
DivMod128 divmod_portable(u128 a, u128 b);

inline u128 operator/(u128 a, u128 b) { return divmod_portable(a, b).quot; }
inline u128 operator%(u128 a, u128 b) { return divmod_portable(a, b).rem; }

inline u128& operator+=(u128& a, u128 b) { return a = a + b; }
inline u128& operator-=(u128& a, u128 b) { return a = a - b; }
inline u128& operator*=(u128& a, u128 b) { return a = a * b; }
inline u128& operator/=(u128& a, u128 b) { return a = a / b; }
inline u128& operator%=(u128& a, u128 b) { return a = a % b; }
inline u128& operator<<=(u128& a, unsigned n) { return a = a << n; }
inline u128& operator>>=(u128& a, unsigned n) { return a = a >> n; }
inline u128& operator|=(u128& a, u128 b) { return a = a | b; }
inline u128& operator&=(u128& a, u128 b) { return a = a & b; }

#endif

// Number of significant bits (0 for zero).
constexpr unsigned bit_length(u128 v) {
  const uint64_t h = hi64(v);
  if (h != 0) return 128 - static_cast<unsigned>(std::countl_zero(h));
  return 64 - static_cast<unsigned>(std::countl_zero(lo64(v)));
}

}  // namespace vexlor::wide
