// Lexing and parsing throughput: typical short expressions, and long texts of
// 128 KB to 2 MB (time should grow in proportion to the length: the lexer
// examines each byte a bounded number of times and the LALR driver does a
// bounded amount of work per token).

#include <benchmark/benchmark.h>

#include <string>

#include "parser/parser.hpp"

namespace {

constexpr const char* SHORT = "a + b * 2";
// 30 two-operand operators, a call, parentheses, a comparison and a conditional.
constexpr const char* FORMULA =
    "(price * qty - discount) / 100 + max(a, b) * 2 ^ n - tax % 7 + c // 3 * (d - e) "
    "+ f * g / h - i + j * k - l / m + n * 0.25 - o + p * q >= total ? 1.5 * r - s : t + u - 1";

// A long expression made of formula-like pieces joined by "+", so the whole
// text is one right-nested chain.
std::string long_text(size_t bytes) {
  const std::string piece = "(x1 * 2.5 - rate / 3) + max(a, b, 7) * -1.25 ^ 2 - {123e4567-e89b-12d3-a456-426614174000} % 9 + ";
  std::string text;
  text.reserve(bytes + piece.size());
  while (text.size() + piece.size() < bytes) text += piece;
  text += "0";
  return text;
}

size_t lex_all(std::string_view text) {
  vexlor::Lexer lexer(text);
  size_t tokens = 0;
  while (lexer.next().kind == vexlor::LexStep::Kind::Token) ++tokens;
  return tokens;
}

void BM_LexShort(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(lex_all(SHORT));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * std::string_view(SHORT).size());
}

void BM_ParseShort(benchmark::State& state) {
  for (auto _ : state) {
    auto tree = vexlor::parse(SHORT);
    benchmark::DoNotOptimize(tree);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * std::string_view(SHORT).size());
}

void BM_LexFormula(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(lex_all(FORMULA));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * std::string_view(FORMULA).size());
}

void BM_ParseFormula(benchmark::State& state) {
  for (auto _ : state) {
    auto tree = vexlor::parse(FORMULA);
    benchmark::DoNotOptimize(tree);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * std::string_view(FORMULA).size());
}

void BM_LexLong(benchmark::State& state) {
  std::string text = long_text(static_cast<size_t>(state.range(0)) * 1024);
  for (auto _ : state) benchmark::DoNotOptimize(lex_all(text));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

// Parse includes releasing the tree (iteratively) at the end of each iteration.
void BM_ParseLong(benchmark::State& state) {
  std::string text = long_text(static_cast<size_t>(state.range(0)) * 1024);
  for (auto _ : state) {
    auto tree = vexlor::parse(text);
    benchmark::DoNotOptimize(tree);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

// A million opening parentheses: the failing parse of a deep text.
void BM_ParseDeepParentheses(benchmark::State& state) {
  std::string text(static_cast<size_t>(state.range(0)) * 1024, '(');
  for (auto _ : state) {
    auto tree = vexlor::parse(text);
    benchmark::DoNotOptimize(tree);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

BENCHMARK(BM_LexShort);
BENCHMARK(BM_ParseShort);
BENCHMARK(BM_LexFormula);
BENCHMARK(BM_ParseFormula);
BENCHMARK(BM_LexLong)->Unit(benchmark::kMillisecond)->RangeMultiplier(2)->Range(128, 2048);
BENCHMARK(BM_ParseLong)->Unit(benchmark::kMillisecond)->RangeMultiplier(2)->Range(128, 2048);
BENCHMARK(BM_ParseDeepParentheses)->Unit(benchmark::kMillisecond)->Arg(512)->Arg(1024);

}  // namespace

BENCHMARK_MAIN();
