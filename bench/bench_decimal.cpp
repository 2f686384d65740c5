// The decimal type against IEEE 754 decimal128 (BID encoding), operation by
// operation, on the same operands: a fixed pseudo-random set of 1024 pairs of
// mixed scales and sizes (mostly "business" values such as 123.45, 0.075 or
// 19999.99, some rates and small integers, and about one operand in seven a
// full-width 28-digit value). Each benchmark iteration does one operation on the
// next pair, cycling through the set. Benchmarks come in pairs named
// "<operation>/ours" and "<operation>/decimal128"; bench/run_decimal.sh prints the
// ratios. The same operations also run on two one-sided sets, to tell the paths
// apart: "<operation>@amounts" (amounts, rates and small integers only) and
// "<operation>@wide" (full-width operands only).

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "decimal/decimal.hpp"

extern "C" {
#include <bid_conf.h>
#include <bid_functions.h>
}

namespace {

using vexlor::Decimal;

constexpr size_t PAIRS = 1024;  // a power of two: the index wraps with a mask
constexpr uint64_t SEED = 0x5eed'2024'dec1'3a1bULL;

class SplitMix64 {
 public:
  explicit SplitMix64(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  uint64_t below(uint64_t n) { return next() % n; }  // the bias is irrelevant here

 private:
  uint64_t state_;
};

// Writes `digits` (most significant first) with `scale` of them after the point.
std::string place_point(std::string digits, unsigned scale) {
  if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
  if (scale > 0) digits.insert(digits.size() - scale, 1, '.');
  return digits;
}

std::string random_digits(SplitMix64& rng, unsigned count) {
  std::string s;
  s += static_cast<char>('1' + rng.below(9));
  for (unsigned i = 1; i < count; ++i) s += static_cast<char>('0' + rng.below(10));
  return s;
}

// Which operands a set holds.
enum class Mix { All, Amounts, Wide };
constexpr int MIXES = 3;

std::string random_operand(SplitMix64& rng, Mix mix) {
  const uint64_t kind = mix == Mix::All ? rng.below(20) : mix == Mix::Amounts ? rng.below(17) : 17;
  std::string text;
  if (kind < 14) {  // amounts: up to 5 integer digits, mostly 2 decimals
    static constexpr std::array<unsigned, 8> scales = {2, 2, 2, 2, 0, 1, 3, 4};
    const unsigned scale = scales[rng.below(scales.size())];
    const unsigned int_digits = 1 + static_cast<unsigned>(rng.below(5));
    text = place_point(random_digits(rng, int_digits + scale), scale);
  } else if (kind < 16) {  // rates such as 0.075 or 0.0825
    const unsigned scale = 3 + static_cast<unsigned>(rng.below(2));
    text = place_point(random_digits(rng, 1 + static_cast<unsigned>(rng.below(scale - 1))), scale);
  } else if (kind < 17) {  // small integers
    text = std::to_string(1 + rng.below(100));
  } else {  // full width: 28 significant digits at any scale
    text = place_point(random_digits(rng, 28), static_cast<unsigned>(rng.below(29)));
  }
  if (rng.below(8) == 0) text.insert(0, 1, '-');
  return text;
}

struct Operands {
  std::vector<std::string> text_a, text_b;
  std::vector<Decimal> ours_a, ours_b;
  std::vector<BID_UINT128> bid_a, bid_b;
};

Decimal parse_ours(const std::string& text) {
  auto r = Decimal::from_str(text);
  if (!r) {
    std::fprintf(stderr, "bench_decimal: cannot read operand '%s': %s\n", text.c_str(),
                 r.error().to_string().c_str());
    std::exit(1);
  }
  return *r;
}

BID_UINT128 parse_bid(std::string text) {
  return bid128_from_string(text.data());
}

Operands make_operands(Mix mix) {
  Operands o;
  SplitMix64 rng(SEED);
  for (size_t i = 0; i < PAIRS; ++i) {
    std::string a = random_operand(rng, mix), b = random_operand(rng, mix);
    o.text_a.push_back(a);
    o.text_b.push_back(b);
    o.ours_a.push_back(parse_ours(a));
    o.ours_b.push_back(parse_ours(b));
    o.bid_a.push_back(parse_bid(a));
    o.bid_b.push_back(parse_bid(b));
  }
  return o;
}

template <Mix M = Mix::All>
const Operands& operands() {
  static const Operands ops = make_operands(M);
  return ops;
}

// ---- ours ----

template <vexlor::ArithResult (*Op)(const Decimal&, const Decimal&), Mix M>
void ours_binary(benchmark::State& state) {
  const Operands& o = operands<M>();
  size_t i = 0;
  for (auto _ : state) {
    vexlor::ArithResult r = Op(o.ours_a[i], o.ours_b[i]);
    benchmark::DoNotOptimize(r);
    i = (i + 1) & (PAIRS - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

template <Mix M>
void ours_cmp(benchmark::State& state) {
  const Operands& o = operands<M>();
  size_t i = 0;
  for (auto _ : state) {
    bool less = o.ours_a[i] < o.ours_b[i];
    benchmark::DoNotOptimize(less);
    i = (i + 1) & (PAIRS - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

template <Mix M>
void ours_from_str(benchmark::State& state) {
  const Operands& o = operands<M>();
  size_t i = 0;
  for (auto _ : state) {
    auto r = Decimal::from_str(o.text_a[i]);
    benchmark::DoNotOptimize(r);
    i = (i + 1) & (PAIRS - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

template <Mix M>
void ours_to_str(benchmark::State& state) {  // the fixed-buffer text form
  const Operands& o = operands<M>();
  size_t i = 0;
  for (auto _ : state) {
    vexlor::DecimalText t = o.ours_a[i].text();
    benchmark::DoNotOptimize(t);
    benchmark::ClobberMemory();
    i = (i + 1) & (PAIRS - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

template <Mix M>
void ours_to_std_string(benchmark::State& state) {  // the same, returned as std::string
  const Operands& o = operands<M>();
  size_t i = 0;
  for (auto _ : state) {
    std::string s = o.ours_a[i].to_string();
    benchmark::DoNotOptimize(s.data());
    benchmark::ClobberMemory();
    i = (i + 1) & (PAIRS - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

// ---- decimal128 ----

template <BID_UINT128 (*Op)(BID_UINT128, BID_UINT128), Mix M>
void bid_binary(benchmark::State& state) {
  const Operands& o = operands<M>();
  size_t i = 0;
  for (auto _ : state) {
    BID_UINT128 r = Op(o.bid_a[i], o.bid_b[i]);
    benchmark::DoNotOptimize(r);
    i = (i + 1) & (PAIRS - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

BID_UINT128 bid_add(BID_UINT128 x, BID_UINT128 y) { return bid128_add(x, y); }
BID_UINT128 bid_sub(BID_UINT128 x, BID_UINT128 y) { return bid128_sub(x, y); }
BID_UINT128 bid_mul(BID_UINT128 x, BID_UINT128 y) { return bid128_mul(x, y); }
BID_UINT128 bid_div(BID_UINT128 x, BID_UINT128 y) { return bid128_div(x, y); }
// fmod truncates the quotient toward zero, like rem_impl (bid128_rem is the IEEE
// remainder, which rounds the quotient to nearest).
BID_UINT128 bid_rem(BID_UINT128 x, BID_UINT128 y) { return bid128_fmod(x, y); }

template <Mix M>
void bid_cmp(benchmark::State& state) {
  const Operands& o = operands<M>();
  size_t i = 0;
  for (auto _ : state) {
    int less = bid128_quiet_less(o.bid_a[i], o.bid_b[i]);
    benchmark::DoNotOptimize(less);
    i = (i + 1) & (PAIRS - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

template <Mix M>
void bid_from_str(benchmark::State& state) {
  Operands copy = operands<M>();  // the reader takes a non-const char*
  size_t i = 0;
  for (auto _ : state) {
    BID_UINT128 r = bid128_from_string(copy.text_a[i].data());
    benchmark::DoNotOptimize(r);
    i = (i + 1) & (PAIRS - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

template <Mix M>
void bid_to_str(benchmark::State& state) {
  const Operands& o = operands<M>();
  size_t i = 0;
  char buf[64];
  for (auto _ : state) {
    bid128_to_string(buf, o.bid_a[i]);
    benchmark::DoNotOptimize(buf);
    benchmark::ClobberMemory();
    i = (i + 1) & (PAIRS - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

// How many results of each operation are values (the rest overflow), so that a
// reader can tell which paths the set exercises.
std::string outcome_summary(vexlor::ArithResult (*op)(const Decimal&, const Decimal&)) {
  const Operands& o = operands();
  size_t ok = 0;
  for (size_t i = 0; i < PAIRS; ++i) ok += op(o.ours_a[i], o.ours_b[i]).is_ok();
  return std::to_string(ok) + " of " + std::to_string(PAIRS) + " ok";
}


// ---- powers ----
//
// One set of 1024 (base, exponent) pairs per path of the power:
//   pow_frac      fractional exponents (ln and exp): amounts and rates to the
//                 power of 0.5, 1.5, -0.25, 2.75 and the like;
//   pow_int_wide  integer exponents of 1024 and more (binary exponentiation in
//                 the extended decimal): compounding factors such as
//                 1 + 0.05/365 to the power of 1024 to 4294967295;
//   pow_int_neg   the same with negative exponents (the reciprocal power);
//   pow_int_small integer exponents 3 to 1023 (Decimal products).
enum class PowPath { Frac, IntWide, IntNeg, IntSmall };

std::string random_exponent(SplitMix64& rng, PowPath path) {
  switch (path) {
    case PowPath::Frac: {
      // m.dd or m.d with m in 0..3, never integral, either sign
      std::string t;
      do {
        const unsigned scale = 1 + static_cast<unsigned>(rng.below(2));
        t = place_point(std::to_string(1 + rng.below(scale == 1 ? 40 : 400)), scale);
      } while (t.back() == '0');
      return rng.below(4) == 0 ? "-" + t : t;
    }
    case PowPath::IntWide:
    case PowPath::IntNeg: {
      const uint64_t n = rng.below(4) == 0 ? 4294967295ULL - rng.below(1000) : 1024 + rng.below(1 + 100000 * (1 + rng.below(4)));
      return (path == PowPath::IntNeg ? "-" : "") + std::to_string(n);
    }
    case PowPath::IntSmall:
      return std::to_string(3 + rng.below(1021));
  }
  return "1";
}

std::string random_base(SplitMix64& rng, PowPath path) {
  if (path == PowPath::IntWide || path == PowPath::IntNeg) {
    // 1 + r / k for a rate r of up to 10% and k in {12, 365, 360, 1000}, at 28 digits
    static constexpr std::array<unsigned, 4> periods = {12, 365, 360, 1000};
    const uint64_t rate = 1 + rng.below(10000);  // in units of 0.001%
    const unsigned k = periods[rng.below(periods.size())];
    const Decimal r = vexlor::div_impl(Decimal::new_(static_cast<int64_t>(rate), 5), Decimal::new_(k, 0)).value;
    const Decimal base = vexlor::add_impl(Decimal::one(), rng.below(4) == 0 ? -r : r).value;
    return base.to_string();
  }
  std::string t = random_operand(rng, Mix::Amounts);
  if (t[0] == '-' && path == PowPath::Frac && rng.below(2)) t.erase(0, 1);
  return t;
}

struct PowOperands {
  std::vector<Decimal> ours_base, ours_exp;
  std::vector<BID_UINT128> bid_base, bid_exp;
  size_t ok = 0;
};

const PowOperands& pow_operands(PowPath path) {
  static PowOperands sets[4];
  PowOperands& o = sets[static_cast<int>(path)];
  if (o.ours_base.empty()) {
    SplitMix64 rng(SEED + static_cast<uint64_t>(path));
    for (size_t i = 0; i < PAIRS; ++i) {
      const std::string b = random_base(rng, path), e = random_exponent(rng, path);
      o.ours_base.push_back(parse_ours(b));
      o.ours_exp.push_back(parse_ours(e));
      o.bid_base.push_back(parse_bid(b));
      o.bid_exp.push_back(parse_bid(e));
      o.ok += vexlor::checked_powd(o.ours_base.back(), o.ours_exp.back()).is_ok();
    }
  }
  return o;
}

template <PowPath P>
void ours_pow(benchmark::State& state) {
  const PowOperands& o = pow_operands(P);
  size_t i = 0;
  for (auto _ : state) {
    vexlor::MathResult r = vexlor::checked_powd(o.ours_base[i], o.ours_exp[i]);
    benchmark::DoNotOptimize(r);
    i = (i + 1) & (PAIRS - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

template <PowPath P>
void bid_pow(benchmark::State& state) {
  const PowOperands& o = pow_operands(P);
  size_t i = 0;
  for (auto _ : state) {
    BID_UINT128 r = bid128_pow(o.bid_base[i], o.bid_exp[i]);
    benchmark::DoNotOptimize(r);
    i = (i + 1) & (PAIRS - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

void register_powers() {
  auto add = [](const char* name, void (*ours)(benchmark::State&), void (*bid)(benchmark::State&)) {
    benchmark::RegisterBenchmark((std::string(name) + "/ours").c_str(), ours);
    benchmark::RegisterBenchmark((std::string(name) + "/decimal128").c_str(), bid);
  };
  add("pow_frac", ours_pow<PowPath::Frac>, bid_pow<PowPath::Frac>);
  add("pow_int_wide", ours_pow<PowPath::IntWide>, bid_pow<PowPath::IntWide>);
  add("pow_int_neg", ours_pow<PowPath::IntNeg>, bid_pow<PowPath::IntNeg>);
  add("pow_int_small", ours_pow<PowPath::IntSmall>, bid_pow<PowPath::IntSmall>);
}

template <Mix M>
void register_all(const std::string& suffix) {
  auto add = [&](const char* op, const char* side, void (*fn)(benchmark::State&)) {
    benchmark::RegisterBenchmark((std::string(op) + suffix + "/" + side).c_str(), fn);
  };
  add("add", "ours", ours_binary<vexlor::add_impl, M>);
  add("add", "decimal128", bid_binary<bid_add, M>);
  add("sub", "ours", ours_binary<vexlor::sub_impl, M>);
  add("sub", "decimal128", bid_binary<bid_sub, M>);
  add("mul", "ours", ours_binary<vexlor::mul_impl, M>);
  add("mul", "decimal128", bid_binary<bid_mul, M>);
  add("div", "ours", ours_binary<vexlor::div_impl, M>);
  add("div", "decimal128", bid_binary<bid_div, M>);
  add("rem", "ours", ours_binary<vexlor::rem_impl, M>);
  add("rem", "decimal128", bid_binary<bid_rem, M>);
  add("cmp", "ours", ours_cmp<M>);
  add("cmp", "decimal128", bid_cmp<M>);
  add("from_str", "ours", ours_from_str<M>);
  add("from_str", "decimal128", bid_from_str<M>);
  add("to_str", "ours", ours_to_str<M>);
  add("to_str", "decimal128", bid_to_str<M>);
  add("to_std_string", "ours", ours_to_std_string<M>);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  const Operands& o = operands();
  size_t full_width = 0;
  for (size_t i = 0; i < PAIRS; ++i) full_width += (o.text_a[i].size() >= 28) + (o.text_b[i].size() >= 28);
  benchmark::AddCustomContext("operand_pairs", std::to_string(PAIRS));
  benchmark::AddCustomContext("full_width_operands", std::to_string(full_width) + " of " + std::to_string(2 * PAIRS));
  benchmark::AddCustomContext("sample_pair_0", o.text_a[0] + " , " + o.text_b[0]);
  benchmark::AddCustomContext("mul_outcomes", outcome_summary(vexlor::mul_impl));
  benchmark::AddCustomContext("div_outcomes", outcome_summary(vexlor::div_impl));

  for (PowPath p : {PowPath::Frac, PowPath::IntWide, PowPath::IntNeg, PowPath::IntSmall}) {
    static constexpr const char* names[] = {"pow_frac", "pow_int_wide", "pow_int_neg", "pow_int_small"};
    benchmark::AddCustomContext(std::string(names[static_cast<int>(p)]) + "_outcomes",
                                std::to_string(pow_operands(p).ok) + " of " + std::to_string(PAIRS) + " ok");
  }

  register_all<Mix::All>("");
  register_powers();
  register_all<Mix::Amounts>("@amounts");
  register_all<Mix::Wide>("@wide");

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
