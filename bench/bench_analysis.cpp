// The static analysis of a 32-operator formula, with and without its compile,
// and the witness search for a formula that can divide by zero.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "analysis/analyze.hpp"
#include "analysis/witness.hpp"
#include "compiler/compiler.hpp"

namespace {

using namespace vexlor;
using namespace vexlor::analysis;

std::string formula() {
  std::string f;
  for (int i = 0; i < 10; ++i) f += (i ? "+" : "") + std::string("(x") + std::to_string(i) + " * 2 - " + std::to_string(i) + ")";
  return f + " + a*b - c";
}

std::vector<VarDomain> domains() {
  std::vector<VarDomain> d;
  const Decimal top = *Decimal::from_str("9999999999999999.99");
  for (int i = 0; i < 10; ++i) d.push_back({"x" + std::to_string(i), Interval::range(-top, top, 2, 2, false), {}, false});
  d.push_back({"a", Interval::range(Decimal::zero(), Decimal::new_(100, 0), 0, 28, false), {}, false});
  d.push_back({"b", Interval::range(Decimal::zero(), Decimal::new_(100, 0), 0, 2, false), {}, false});
  d.push_back({"c", Interval::range(Decimal::new_(-2147483648, 0), Decimal::new_(2147483647, 0), 0, 0, false), {}, false});
  return d;
}

void BM_AnalyzeCompiled(benchmark::State& state) {
  const auto program = compile_str(formula(), 64);
  const auto d = domains();
  for (auto _ : state) benchmark::DoNotOptimize(analyze(*program, d));
}
BENCHMARK(BM_AnalyzeCompiled);

void BM_CompileAndAnalyze(benchmark::State& state) {
  const std::string f = formula();
  const auto d = domains();
  for (auto _ : state) {
    const auto program = compile_str(f, 64);
    benchmark::DoNotOptimize(analyze(*program, d));
    benchmark::DoNotOptimize(program_variables(*program));
  }
}
BENCHMARK(BM_CompileAndAnalyze);

void BM_WitnessDivisionByZero(benchmark::State& state) {
  const auto program = compile_str("fee + price * qty / (qty - 3)", 64);
  const std::vector<VarDomain> d = {
      {"qty", Interval::range(Decimal::zero(), Decimal::new_(1000, 0), 0, 0, false), {}, false}};
  const Report r = analyze(*program, d);
  const auto names = program_variables(*program);
  for (auto _ : state) benchmark::DoNotOptimize(find_witnesses(*program, names, d, r.failures, 400));
}
BENCHMARK(BM_WitnessDivisionByZero);

}  // namespace

BENCHMARK_MAIN();
