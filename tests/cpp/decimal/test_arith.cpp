#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

#include "decimal/arith_internal.hpp"
#include "decimal/decimal.hpp"

namespace {

using vexlor::ArithResult;
using vexlor::Decimal;
using vexlor::arith::Buf24;
using vexlor::arith::u128;
namespace wide = vexlor::wide;

// Local text helpers, so these tests depend on nothing but the arithmetic.
Decimal dec(std::string_view text) {
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  u128 coef(0);
  uint32_t scale = 0;
  bool after_point = false;
  for (char c : text) {
    if (c == '.') {
      after_point = true;
      continue;
    }
    coef = coef * u128(10) + u128(static_cast<uint64_t>(c - '0'));
    if (after_point) ++scale;
  }
  return Decimal::from_parts(wide::lo64(coef), static_cast<uint32_t>(wide::hi64(coef)), scale, negative);
}

std::string text(const Decimal& d) {
  u128 coef = wide::make_u128(d.hi(), d.lo());
  std::string digits;
  do {
    uint64_t digit;
    coef = vexlor::arith::divmod_u64(coef, 10, digit);
    digits.insert(digits.begin(), static_cast<char>('0' + digit));
  } while (coef != u128(0));
  const size_t scale = d.scale();
  if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
  if (scale > 0) digits.insert(digits.size() - scale, ".");
  return (d.is_sign_negative() ? "-" : "") + digits;
}

std::string text(const ArithResult& r) {
  switch (r.status) {
    case ArithResult::Status::Overflow:
      return "Overflow";
    case ArithResult::Status::DivByZero:
      return "DivByZero";
    case ArithResult::Status::Ok:
      break;
  }
  return text(r.value);
}

struct Case {
  const char* a;
  const char* b;
  const char* expected;
};

constexpr const char* MAX = "79228162514264337593543950335";
constexpr const char* TINY = "0.0000000000000000000000000001";

void check(ArithResult (*op)(const Decimal&, const Decimal&), const char* name, const Case* cases, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const Case& c = cases[i];
    EXPECT_EQ(text(op(dec(c.a), dec(c.b))), c.expected) << c.a << " " << name << " " << c.b;
  }
}

TEST(DecimalArith, LocalTextHelpersRoundTrip) {
  for (const char* t : {"0", "-0", "0.000", "-0.00", "1.50", MAX, TINY, "-7922816251426433759354395033.5"}) {
    EXPECT_EQ(text(dec(t)), t);
  }
}

TEST(DecimalArith, Add) {
  static const Case cases[] = {
      {"0.000", "1.5", "1.5"},
      {"1.5", "0.000", "1.5"},
      {"-0", "1.5", "1.5"},
      {"0", "-0", "-0"},
      {"-0", "0.00", "0.00"},
      {"1.10", "2.205", "3.305"},
      {"0.5", "0.5", "1.0"},
      {"-1", "1", "0"},
      {"1.5", "-1.5", "0.0"},
      {"1.5", "-1.50", "0.00"},
      {"-2.5", "1", "-1.5"},
      {"1", "-2.50", "-1.50"},
      {MAX, "0.4", MAX},
      {"79228162514264337593543950334", "0.5", "79228162514264337593543950334"},
      {"79228162514264337593543950333", "0.5", "79228162514264337593543950334"},
      {MAX, "0.5", "Overflow"},
      {MAX, "1", "Overflow"},
      {"-79228162514264337593543950335", "-1", "Overflow"},
      {MAX, "-1", "79228162514264337593543950334"},
      {"1", TINY, "1.0000000000000000000000000001"},
      {"10", TINY, "10.000000000000000000000000000"},
      {"10", "0.00000000000000000000000000051", "10.000000000000000000000000001"},
      {"10", "0.00000000000000000000000000050", "10.000000000000000000000000000"},
      {"10", "0.00000000000000000000000000150", "10.000000000000000000000000002"},
      {"-10", "-0.00000000000000000000000000051", "-10.000000000000000000000000001"},
      {"7922816251426433759354395033.5", "0.5", "7922816251426433759354395034"},
      {"7922816251426433759354395033.5", "0.55", "7922816251426433759354395034"},
      // Rounds up to 2^96 at scale 1, so one more digit goes.
      {"7922816251426433759354395033.5", "0.05", "7922816251426433759354395034"},
      {"79228162514264337593543950335", "-0.5", "79228162514264337593543950334"},
      {"0.0000000000000000000000000002", "-0.0000000000000000000000000002", "0.0000000000000000000000000000"},
  };
  check(vexlor::add_impl, "+", cases, std::size(cases));
}

TEST(DecimalArith, Sub) {
  static const Case cases[] = {
      {"0", "1.5", "-1.5"},      {"0.000", "-1.5", "1.5"}, {"0.00", "0", "0"},
      {"0", "-0", "-0"},         {"1.5", "0", "1.5"},      {"1.5", "1.50", "0.00"},
      {"1.5", "1.5", "0.0"},     {"1", "2.5", "-1.5"},     {"-1", "-1", "0"},
      {MAX, "-1", "Overflow"},   {"-79228162514264337593543950335", "1", "Overflow"},
      {MAX, "0.5", "79228162514264337593543950334"},
  };
  check(vexlor::sub_impl, "-", cases, std::size(cases));
}

TEST(DecimalArith, Mul) {
  static const Case cases[] = {
      {"0.00", "1.5", "0"},
      {"-1", "0", "0"},
      {"-1.5", "-0.000", "0"},
      {"1.5", "1.5", "2.25"},
      {"1.00", "2.000", "2.00000"},
      {"1.1", "1.1", "1.21"},
      {"-1.1", "1.1", "-1.21"},
      {"-1.1", "-1.1", "1.21"},
      {"2.5", TINY, "0.0000000000000000000000000002"},
      {"1.5", TINY, "0.0000000000000000000000000002"},
      {"0.5", TINY, "0.0000000000000000000000000000"},
      {"-0.4", TINY, "0.0000000000000000000000000000"},
      {"-0.6", TINY, "-0.0000000000000000000000000001"},
      {"0.0000000000001", "0.00000000000000001", "0.0000000000000000000000000000"},
      {MAX, "2", "Overflow"},
      {MAX, "1", MAX},
      {MAX, "-1", "-79228162514264337593543950335"},
      {MAX, "0.1", "7922816251426433759354395033.5"},
      {MAX, MAX, "Overflow"},
      {MAX, TINY, "7.9228162514264337593543950335"},
      {"4294967296", "18446744073709551616", "Overflow"},
      {"4294967295", "18446744073709551615", "79228162495817593515539431425"},
      // 2^96 at scale 1 after rounding: one more digit goes.
      {"7.2025602285694852357767227578", "1.1", "7.922816251426433759354395034"},
      {"7.2025602285694852357767227578", "11", "79.22816251426433759354395034"},
      {"72025602285694852357767227578", "11", "Overflow"},
      {"1.0000000000000000000000000001", "1.0000000000000000000000000001", "1.0000000000000000000000000002"},
      {"3.3333333333333333333333333333", "3", "10.000000000000000000000000000"},
      {"0.3333333333333333333333333333", "0.3333333333333333333333333333", "0.1111111111111111111111111111"},
  };
  check(vexlor::mul_impl, "*", cases, std::size(cases));
}

TEST(DecimalArith, Div) {
  static const Case cases[] = {
      {"1", "3", "0.3333333333333333333333333333"},
      {"2", "3", "0.6666666666666666666666666667"},
      {"-1", "3", "-0.3333333333333333333333333333"},
      {"1", "-3", "-0.3333333333333333333333333333"},
      {"100", "3", "33.333333333333333333333333333"},
      {"2", "7", "0.2857142857142857142857142857"},
      {"1", "2", "0.50"},
      {"5", "2", "2.50"},
      {"10", "4", "2.50"},
      {"1", "5", "0.20"},
      {"3", "4", "0.75"},
      {"1", "8", "0.125"},
      {"1", "16", "0.0625"},
      {"1.00", "8", "0.1250"},
      {"1.000", "8", "0.125"},
      {"2", "0.5", "4.0"},
      {"1", "0.5", "2.0"},
      {"100", "4", "25"},
      {"1", "1000", "0.001"},
      {"1", "0.01", "100"},
      {"1.00", "1", "1.00"},
      {"6.00", "4", "1.50"},
      {"3.0", "1.5", "2"},
      {"0.000", "5", "0"},
      {"-0.000", "5", "0"},
      {MAX, "0.1", "Overflow"},
      {"1", "0", "DivByZero"},
      {"0", "0", "DivByZero"},
      {"0", "-0.00", "DivByZero"},
      {"-21160646375459446590327114.227", "-701.3126133329006928513461595", "30172915719989855710462.20027"},
      {MAX, "1", MAX},
      {MAX, "-1", "-79228162514264337593543950335"},
      {MAX, "10", "7922816251426433759354395033.5"},
      {MAX, "3", "26409387504754779197847983445"},
      {MAX, "2", "39614081257132168796771975168"},
      {"1", MAX, "0"},
      {TINY, "3", "0"},
      {TINY, "2", "0"},
      {TINY, "1.5", "0.0000000000000000000000000001"},
      {TINY, TINY, "1"},
      {"1", TINY, "10000000000000000000000000000"},
      {"10", TINY, "Overflow"},
      {"7.9228162514264337593543950335", TINY, MAX},
      // The quotient reaches 2^96 while the scale is still negative.
      {"237684487542793012781", "0.0000000000000000000000000003", "Overflow"},
      {"79228162514264337593.5", "1", "79228162514264337593.5"},
      {"1", "7", "0.1428571428571428571428571429"},
      {"1", "9", "0.1111111111111111111111111111"},
      {"2", "9", "0.2222222222222222222222222222"},
      {"1", "6", "0.1666666666666666666666666667"},
      {"1", "1.0000000000000000000000000001", "0.9999999999999999999999999999"},
  };
  check(vexlor::div_impl, "/", cases, std::size(cases));
}

TEST(DecimalArith, Rem) {
  static const Case cases[] = {
      {"1", "0", "DivByZero"},
      {"0", "0", "DivByZero"},
      {"0.00", "3", "0"},
      {"-0.00", "3", "0"},
      {"1", "3", "1"},
      {"5.674", "387084875782.9", "5.674"},
      {"-1.50", "3", "-1.50"},
      {"5", "3", "2"},
      {"-5", "3", "-2"},
      {"5", "-3", "2"},
      {"-5", "-3", "-2"},
      {"5.5", "2", "1.5"},
      {"4", "2", "0"},
      {"4.0", "2", "0.0"},
      {"-4", "2", "0"},
      {"-92", "0.000055", "-0.000015"},
      {"2.0", "2", "0"},
      {"-2", "2.000", "0"},
      {MAX, "0.0000000000000000000000000003", "0.0000000000000000000000000000"},
      {MAX, "0.0000000000000000000000000011", "0.0000000000000000000000000008"},
      {MAX, "1.5", "0.0"},
      {MAX, "2", "1"},
      {MAX, "7922816251426433759354395033.4", "1.0"},
      {"7922816251426433759354395033.5", "10", "3.5"},
  };
  check(vexlor::rem_impl, "%", cases, std::size(cases));
}

struct RescaleCase {
  Buf24 n;
  int scale;
  const char* expected;
};

TEST(DecimalArith, Rescale) {
  const uint64_t all = ~uint64_t{0};
  const RescaleCase cases[] = {
      {Buf24(0, 0, 0), 40, "0.0000000000000000000000000000"},
      {Buf24(5, 0, 0), 29, "0.0000000000000000000000000000"},
      {Buf24(15, 0, 0), 29, "0.0000000000000000000000000002"},
      {Buf24(25, 0, 0), 29, "0.0000000000000000000000000002"},
      {Buf24(0, uint64_t{1} << 32, 0), 5, "792281625142643375935439.5034"},
      {Buf24(0, uint64_t{1} << 32, 0), 0, "Overflow"},
      {Buf24(all, 0xFFFFFFFFu, 0), 3, "79228162514264337593543950.335"},
      {Buf24(all, 0xFFFFFFFFu, 0), 30, "0.0792281625142643375935439503"},
      {Buf24(all, all, all), 57, "6.2771017353866807638357894232"},
      {Buf24(all, all, all), 28, "Overflow"},
      {Buf24(all, all, all), 29, "62771017353866807638357894232"},
      {Buf24(all, all, all), 30, "6277101735386680763835789423.2"},
      {Buf24(all, all, all), 200, "0.0000000000000000000000000000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text(vexlor::arith::rescale(c.n, c.scale, false)), c.expected) << c.scale;
  }
  // Zero results drop the sign; others keep it.
  EXPECT_EQ(text(vexlor::arith::rescale(Buf24(4, 0, 0), 29, true)), "0.0000000000000000000000000000");
  EXPECT_EQ(text(vexlor::arith::rescale(Buf24(6, 0, 0), 29, true)), "-0.0000000000000000000000000001");
}

// Random operands with a mix of magnitudes and scales, biased towards edges.
class Operands {
 public:
  explicit Operands(uint64_t seed) : rng_(seed) {}
  Decimal next() {
    const uint32_t kind = static_cast<uint32_t>(rng_() % 8);
    uint64_t lo = rng_();
    uint32_t hi = static_cast<uint32_t>(rng_());
    switch (kind) {
      case 0: lo %= 1000; hi = 0; break;
      case 1: lo >>= rng_() % 64; hi = 0; break;
      case 2: hi >>= rng_() % 32; break;
      case 3: lo = ~uint64_t{0} - rng_() % 3; hi = 0xFFFFFFFFu; break;
      case 4: lo = vexlor::arith::POW10_U64[rng_() % 20] * (1 + rng_() % 9); hi = 0; break;
      default: break;
    }
    const uint32_t scale = static_cast<uint32_t>(rng_() % 29);
    const bool negative = rng_() % 2 != 0;
    return Decimal::from_parts(lo, hi, (rng_() % 4 == 0) ? scale % 3 : scale, negative);
  }

 private:
  std::mt19937_64 rng_;
};

TEST(DecimalArith, FastPathsAgreeWithGeneralRoutines) {
  Operands ops(12345);
  for (int i = 0; i < 200000; ++i) {
    const Decimal a = ops.next();
    Decimal b = ops.next();
    if (i % 3 == 0) b = Decimal::from_parts(b.lo() & 0xFFFFFFFFu, 0, a.scale(), b.is_sign_negative());
    const ArithResult add = vexlor::add_impl(a, b), add_g = vexlor::arith::add_sub_general(a, b, false);
    const ArithResult sub = vexlor::sub_impl(a, b), sub_g = vexlor::arith::add_sub_general(a, b, true);
    const ArithResult mul = vexlor::mul_impl(a, b), mul_g = vexlor::arith::mul_general(a, b);
    ASSERT_EQ(add.status, add_g.status) << text(a) << " + " << text(b);
    ASSERT_TRUE(add.value.same_repr(add_g.value)) << text(a) << " + " << text(b);
    ASSERT_EQ(sub.status, sub_g.status) << text(a) << " - " << text(b);
    ASSERT_TRUE(sub.value.same_repr(sub_g.value)) << text(a) << " - " << text(b);
    ASSERT_EQ(mul.status, mul_g.status) << text(a) << " * " << text(b);
    ASSERT_TRUE(mul.value.same_repr(mul_g.value)) << text(a) << " * " << text(b);
  }
}

TEST(DecimalArith, DivisionAtOnceAgreesWithChunkedDivision) {
  Operands ops(999);
  std::mt19937_64 rng(5);
  for (int i = 0; i < 300000; ++i) {
    const Decimal a = ops.next();
    Decimal b = ops.next();
    if (b.hi() == 0) b = Decimal::from_parts(b.lo(), 1 + static_cast<uint32_t>(rng() >> (32 + rng() % 32)), b.scale(),
                                             b.is_sign_negative());
    const ArithResult fast = vexlor::div_impl(a, b), general = vexlor::arith::div_general(a, b);
    ASSERT_EQ(fast.status, general.status) << text(a) << " / " << text(b);
    ASSERT_TRUE(fast.value.same_repr(general.value)) << text(a) << " / " << text(b) << " = " << text(fast) << ", not "
                                                     << text(general);
  }
}

// Reference rescale: drop one digit at a time from the exact value.
ArithResult slow_rescale(Buf24 n, int scale, bool negative) {
  int k = 0;
  bool sticky = false;
  uint64_t last = 0;
  for (;;) {
    Buf24 q = n;
    const bool up = last > 5 || (last == 5 && (sticky || (q.w[0] & 1) != 0));
    if (k > 0 && up) vexlor::arith::add_assign(q, Buf24(1, 0, 0));
    if (scale - k <= 28 && q.fits96()) {
      return ArithResult::ok(vexlor::arith::make_decimal(q.low128(), static_cast<uint32_t>(scale - k), negative));
    }
    if (++k > scale) return ArithResult::overflow();
    sticky |= last != 0;
    last = vexlor::arith::divmod_assign(n, 10);
  }
}

TEST(DecimalArith, RescaleMatchesDigitByDigitReference) {
  std::mt19937_64 rng(777);
  for (int i = 0; i < 100000; ++i) {
    Buf24 n(rng(), rng(), rng());
    const unsigned bits = static_cast<unsigned>(rng() % 193);
    for (unsigned w = 0; w < 3; ++w) {
      const int keep = static_cast<int>(bits) - static_cast<int>(64 * w);
      if (keep <= 0) n.w[w] = 0;
      else if (keep < 64) n.w[w] &= (uint64_t{1} << keep) - 1;
    }
    if (rng() % 4 == 0) vexlor::arith::mul_pow10(n, 1 + static_cast<unsigned>(rng() % 5));  // trailing 0s and 5s
    const int scale = static_cast<int>(rng() % 60);
    const ArithResult fast = vexlor::arith::rescale(n, scale, true), slow = slow_rescale(n, scale, true);
    ASSERT_EQ(fast.status, slow.status) << i;
    ASSERT_TRUE(fast.value.same_repr(slow.value)) << i << " " << text(fast) << " " << text(slow);
  }
}

// The exact sum of two decimals at the larger scale, reduced digit by digit:
// shares nothing with the routines under test but the word helpers.
ArithResult slow_add_sub(const Decimal& a, const Decimal& b, bool negate_b) {
  if (a.is_zero() || b.is_zero()) return vexlor::arith::add_sub_general(a, b, negate_b);
  const bool neg_a = a.is_sign_negative(), neg_b = b.is_sign_negative() != negate_b;
  const uint32_t sa = a.scale(), sb = b.scale();
  Buf24 x(vexlor::arith::coefficient(a)), y(vexlor::arith::coefficient(b));
  for (uint32_t i = sa; i < sb; ++i) vexlor::arith::mul_assign(x, 10);
  for (uint32_t i = sb; i < sa; ++i) vexlor::arith::mul_assign(y, 10);
  const int scale = static_cast<int>(sa > sb ? sa : sb);
  if (neg_a == neg_b) {
    vexlor::arith::add_assign(x, y);
    return slow_rescale(x, scale, neg_a);
  }
  const int c = vexlor::arith::compare(x, y);
  if (c == 0) return ArithResult::ok(Decimal::from_parts(0, 0, static_cast<uint32_t>(scale), false));
  if (c > 0) {
    vexlor::arith::sub_assign(x, y);
    return slow_rescale(x, scale, neg_a);
  }
  vexlor::arith::sub_assign(y, x);
  return slow_rescale(y, scale, neg_b);
}

TEST(DecimalArith, AddSubMatchDigitByDigitReference) {
  Operands ops(4242);
  for (int i = 0; i < 200000; ++i) {
    const Decimal a = ops.next(), b = ops.next();
    for (const bool negate : {false, true}) {
      const ArithResult fast = negate ? vexlor::sub_impl(a, b) : vexlor::add_impl(a, b);
      const ArithResult slow = slow_add_sub(a, b, negate);
      ASSERT_EQ(fast.status, slow.status) << text(a) << (negate ? " - " : " + ") << text(b);
      ASSERT_TRUE(fast.value.same_repr(slow.value)) << text(a) << (negate ? " - " : " + ") << text(b) << " = "
                                                    << text(fast) << ", not " << text(slow);
    }
  }
}

// Values at and next to each bound of the fewest digits to drop.
TEST(DecimalArith, RescaleAtFitLimits) {
  for (int k = 0; k < 29; ++k) {
    const uint64_t* limit = vexlor::arith::FIT_LIMITS[k];
    const Buf24 at(limit[0], limit[1], limit[2]);
    Buf24 below = at, above = at;
    vexlor::arith::sub_assign(below, Buf24(1, 0, 0));
    vexlor::arith::add_assign(above, Buf24(1, 0, 0));
    EXPECT_EQ(vexlor::arith::digits_to_drop(below), k);
    EXPECT_EQ(vexlor::arith::digits_to_drop(at), k + 1);
    for (const Buf24& n : {below, at, above}) {
      for (const int scale : {k, k + 1, 28, 40}) {
        const ArithResult fast = vexlor::arith::rescale(n, scale, false), slow = slow_rescale(n, scale, false);
        ASSERT_EQ(fast.status, slow.status) << k << " " << scale;
        ASSERT_TRUE(fast.value.same_repr(slow.value)) << k << " " << scale << " " << text(fast) << " " << text(slow);
      }
    }
  }
}

TEST(DecimalArith, NoFailureOnEdgeOperands) {
  const char* edges[] = {"0", "-0", "0.0000000000000000000000000000", TINY, "-0.0000000000000000000000000001",
                         "1", "-1", "0.5", "10", MAX, "-79228162514264337593543950335",
                         "7.9228162514264337593543950335", "0.0000000000000000000000000003", "18446744073709551616",
                         "4294967296", "1.0000000000000000000000000001"};
  for (const char* x : edges) {
    for (const char* y : edges) {
      const Decimal a = dec(x), b = dec(y);
      for (auto op : {vexlor::add_impl, vexlor::sub_impl, vexlor::mul_impl, vexlor::div_impl, vexlor::rem_impl}) {
        const ArithResult r = op(a, b);
        if (r.is_ok()) {
          EXPECT_LE(r.value.scale(), 28u);
          EXPECT_EQ(r.value.flags() & ~(0xFFu << 16) & ~Decimal::SIGN_BIT, 0u);
        }
      }
    }
  }
}

}  // namespace
