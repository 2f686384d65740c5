#pragma once
// Exact decimal numbers: a sign, a 96-bit unsigned coefficient and a scale 0..28.
// value = (-1)^sign * coefficient / 10^scale. Nothing here throws or allocates
// except the text conversions that return std::string.

#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "decimal/print_short.hpp"
#include "util/expected.hpp"

namespace vexlor {

inline constexpr uint32_t MAX_SCALE = 28;

// 10^0 .. 10^19, the powers of ten below 2^64.
inline constexpr uint64_t POW10_U64[20] = {1ull,
                                           10ull,
                                           100ull,
                                           1000ull,
                                           10000ull,
                                           100000ull,
                                           1000000ull,
                                           10000000ull,
                                           100000000ull,
                                           1000000000ull,
                                           10000000000ull,
                                           100000000000ull,
                                           1000000000000ull,
                                           10000000000000ull,
                                           100000000000000ull,
                                           1000000000000000ull,
                                           10000000000000000ull,
                                           100000000000000000ull,
                                           1000000000000000000ull,
                                           10000000000000000000ull};

// Error of the conversions (text reading). Texts are static strings.
class Error {
 public:
  enum class Kind : uint8_t { Message, TooLarge, TooSmall, TooPrecise, ScaleTooLarge, ConversionFailed };

  static constexpr Error message(std::string_view text) { return Error(Kind::Message, 0, text); }
  static constexpr Error too_large() { return Error(Kind::TooLarge, 0, {}); }
  static constexpr Error too_small() { return Error(Kind::TooSmall, 0, {}); }
  static constexpr Error too_precise() { return Error(Kind::TooPrecise, 0, {}); }
  static constexpr Error scale_too_large(uint32_t scale) { return Error(Kind::ScaleTooLarge, scale, {}); }
  static constexpr Error conversion_failed(std::string_view type_name) {
    return Error(Kind::ConversionFailed, 0, type_name);
  }

  constexpr Kind kind() const { return kind_; }
  constexpr uint32_t scale() const { return scale_; }       // ScaleTooLarge
  constexpr std::string_view text() const { return text_; }  // Message, ConversionFailed
  std::string to_string() const;                             // the message of the kind
  constexpr bool operator==(const Error&) const = default;

 private:
  constexpr Error(Kind kind, uint32_t scale, std::string_view text) : kind_(kind), scale_(scale), text_(text) {}
  Kind kind_;
  uint32_t scale_;
  std::string_view text_;
};

// A printed decimal: at most 31 characters, held in a fixed buffer.
struct DecimalText {
  char data[32];
  uint8_t size = 0;
  std::string_view view() const { return {data, size}; }
  std::string str() const { return std::string(view()); }
};

class Decimal {
 public:
  static constexpr uint32_t SIGN_BIT = 0x80000000u;
  static constexpr uint32_t SCALE_SHIFT = 16;

  constexpr Decimal() = default;  // zero, scale 0, positive

  // Raw construction; the caller guarantees scale <= 28 and hi/lo form the coefficient.
  static constexpr Decimal from_parts(uint64_t lo, uint32_t hi, uint32_t scale, bool negative) {
    Decimal d;
    d.lo_ = lo;
    d.hi_ = hi;
    d.flags_ = (scale << SCALE_SHIFT) | (negative ? SIGN_BIT : 0u);
    return d;
  }
  // `new` of the design: n / 10^scale. A scale above 28 is a programming error and aborts.
  static Decimal new_(int64_t n, uint32_t scale);

  static Expected<Decimal, Error> from_str(std::string_view text);
  static Expected<Decimal, Error> from_scientific(std::string_view text);
  static std::optional<Decimal> from_f64(double value);

  static constexpr Decimal max_value() { return from_parts(~uint64_t{0}, ~uint32_t{0}, 0, false); }
  static constexpr Decimal min_value() { return from_parts(~uint64_t{0}, ~uint32_t{0}, 0, true); }
  static constexpr Decimal zero() { return Decimal(); }
  static constexpr Decimal one() { return from_parts(1, 0, 0, false); }

  // Accessors.
  constexpr uint64_t lo() const { return lo_; }     // coefficient bits 0..63
  constexpr uint32_t hi() const { return hi_; }     // coefficient bits 64..95
  constexpr uint32_t flags() const { return flags_; }
  constexpr uint32_t scale() const { return (flags_ >> SCALE_SHIFT) & 0xFFu; }
  constexpr bool is_sign_negative() const { return (flags_ & SIGN_BIT) != 0; }
  constexpr bool is_zero() const { return lo_ == 0 && hi_ == 0; }
  constexpr Decimal operator-() const {  // flips the sign bit only
    Decimal d = *this;
    d.flags_ ^= SIGN_BIT;
    return d;
  }
  constexpr Decimal abs() const {
    Decimal d = *this;
    d.flags_ &= ~SIGN_BIT;
    return d;
  }
  // Same sign bit, coefficient and scale (not numeric equality).
  constexpr bool same_repr(const Decimal& o) const { return lo_ == o.lo_ && hi_ == o.hi_ && flags_ == o.flags_; }

  // Ordering as numbers across scales; every zero equals every other zero.
  std::strong_ordering cmp(const Decimal& other) const {
    if (flags_ == other.flags_) {  // same sign and scale: the coefficients decide
      const std::strong_ordering order = hi_ != other.hi_ ? hi_ <=> other.hi_ : lo_ <=> other.lo_;
      return is_sign_negative() ? 0 <=> order : order;
    }
    return cmp_general(other);
  }
  std::strong_ordering cmp_general(const Decimal& other) const;  // any two values
  bool operator==(const Decimal& other) const { return cmp(other) == 0; }
  std::strong_ordering operator<=>(const Decimal& other) const { return cmp(other); }

  // Conversions.
  std::optional<uint64_t> to_u64() const;
  void normalize_assign();
  Decimal normalize() const {
    Decimal d = *this;
    d.normalize_assign();
    return d;
  }
  Decimal trunc() const;  // integer part toward zero, scale 0, sign kept (also on zero)
  Decimal fract() const;  // *this - trunc(), with this value's scale and sign

  // Text form: keeps the scale, "-" whenever the sign bit is set ("-0", "-0.00").
  // Coefficients below 10^8 with a scale below 8 are printed inline. Both paths
  // write into the one object returned, so the text is built in the caller's.
  DecimalText text() const {
    DecimalText out;
    if (std::endian::native == std::endian::little &&
        (lo_ | (uint64_t{hi_ | (flags_ & (0xF8u << SCALE_SHIFT))} << 32)) < 100000000) {
      out.size = static_cast<uint8_t>(
          print_detail::write_below_1e8(out.data, static_cast<uint32_t>(lo_), scale(), is_sign_negative()));
    } else {
      text_beyond_short(out);
    }
    return out;
  }
  std::string to_string() const { return text().str(); }
  // The printer with its options. Writes the text into `out` (at least 32 bytes)
  // and returns its length; `extra_zeros` receives the number of trailing "0"s the
  // caller must append (when a requested precision makes the text longer than 32).
  size_t to_str_internal(bool append_sign, std::optional<uint32_t> precision, char* out, size_t& extra_zeros) const;

  // Rounding, power and square root.
  Decimal floor() const;
  Decimal ceil() const;
  Decimal round() const { return round_dp(0); }
  Decimal round_dp(uint32_t dp) const;  // half to even

 private:
  void text_beyond_short(DecimalText& out) const;  // the other texts

  uint64_t lo_ = 0;
  uint32_t hi_ = 0;
  uint32_t flags_ = 0;
};

static_assert(sizeof(Decimal) == 16);

// Outcome of the five arithmetic operations.
struct ArithResult {
  enum class Status : uint8_t { Ok, Overflow, DivByZero };
  Status status = Status::Ok;
  Decimal value;

  static constexpr ArithResult ok(Decimal v) { return {Status::Ok, v}; }
  static constexpr ArithResult overflow() { return {Status::Overflow, Decimal()}; }
  static constexpr ArithResult div_by_zero() { return {Status::DivByZero, Decimal()}; }
  constexpr bool is_ok() const { return status == Status::Ok; }
};

ArithResult add_impl(const Decimal& a, const Decimal& b);
ArithResult sub_impl(const Decimal& a, const Decimal& b);
ArithResult mul_impl(const Decimal& a, const Decimal& b);
ArithResult div_impl(const Decimal& a, const Decimal& b);
ArithResult rem_impl(const Decimal& a, const Decimal& b);

// Outcome of sqrt and the powers: a value; nothing (undefined or out of range,
// the caller words the error); or an internal fault that must end the
// evaluation with its static text (a non-converging sqrt, an internal overflow).
struct MathResult {
  enum class Status : uint8_t { Ok, Nothing, Fault };
  Status status = Status::Nothing;
  Decimal value;
  const char* fault = nullptr;

  static constexpr MathResult ok(Decimal v) { return {Status::Ok, v, nullptr}; }
  static constexpr MathResult nothing() { return {Status::Nothing, Decimal(), nullptr}; }
  static constexpr MathResult internal_fault(const char* text) { return {Status::Fault, Decimal(), text}; }
  constexpr bool is_ok() const { return status == Status::Ok; }
};

MathResult sqrt(const Decimal& x);
MathResult checked_powd(const Decimal& base, const Decimal& exponent);
MathResult checked_powi(const Decimal& base, int64_t n);
MathResult powu_wide(const Decimal& base, uint64_t n);
MathResult ln_wide(const Decimal& x);   // x > 0
MathResult exp_wide(const Decimal& x);  // nothing when the result does not fit

}  // namespace vexlor
