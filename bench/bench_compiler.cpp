// Compiler and bytecode JSON benchmarks: compiling a small and a 30-operator
// formula, a long text and a text with an error, and writing and reading the
// JSON text of a 1000-instruction program.
//
// With VEXLOR_BENCH_JSON_OUT=<path> the JSON text of the 1000-instruction
// program is also written to <path>, so that bench/json_loads.py can time
// Python's json.loads on exactly the same text.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "compiler/compiler.hpp"

namespace {

using vexlor::Decimal;
using vexlor::OpCode;
using vexlor::OpKind;
using vexlor::Program;

// 30 operators (binary, unary and the conditional) and three calls.
constexpr const char* FORMULA_30 =
    "(price * quantity - discount) / (1 + tax_rate) + shipping * 2.5 - fee > limit ? "
    "max(round(total * 1.07, 2), minimum) - abs(adjustment) % 3 + bonus * 2 : "
    "(base ^ 2 + offset // 4 - -1.5) * factor >= 10 and not flag or (a != b and c <= d) or (e == f and g < h)";

// A program of 1000 instructions with the mix a compiled formula has: variables,
// constants of several scales, operators, calls and jumps.
Program thousand_instructions() {
  static const char* const NAMES[] = {"price", "quantity", "tax_rate", "x", "customer_discount"};
  static const char* const CONSTANTS[] = {"1", "2.5", "0.075", "100", "-3.14159", "1000000.00"};
  Program program;
  size_t i = 0;
  while (program.size() < 1000) {
    switch (i % 10) {
      case 0:
      case 3:
        program.push_back(OpCode::load_var(vexlor::VarId::name(NAMES[i % 5])));
        break;
      case 1:
      case 4:
        program.push_back(OpCode::push_const(*Decimal::from_str(CONSTANTS[i % 6])));
        break;
      case 2:
        program.push_back(OpCode(OpKind::Mul));
        break;
      case 5:
        program.push_back(OpCode(OpKind::Add));
        break;
      case 6:
        program.push_back(OpCode::call("max", 2));
        break;
      case 7:
        program.push_back(OpCode::jump_if_false(program.size() + 3));
        break;
      case 8:
        program.push_back(OpCode::jump(program.size() + 2));
        break;
      default:
        program.push_back(OpCode(OpKind::Gt));
    }
    ++i;
  }
  return program;
}

void BM_CompileSmall(benchmark::State& state) {
  for (auto _ : state) {
    auto program = vexlor::compile_str("a + b * 2", 15);
    benchmark::DoNotOptimize(program);
  }
}
BENCHMARK(BM_CompileSmall);

void BM_Compile30Operators(benchmark::State& state) {
  for (auto _ : state) {
    auto program = vexlor::compile_str(FORMULA_30, 64);
    benchmark::DoNotOptimize(program);
  }
}
BENCHMARK(BM_Compile30Operators);

// The parser benchmark's long text (formula-like pieces joined by "+"), so that
// operator chains and the program outgrow every room reserved up front.
std::string long_formula(size_t bytes) {
  const std::string piece = "(x1 * 2.5 - rate / 3) + max(a, b, 7) * -1.25 ^ 2 - {123e4567-e89b-12d3-a456-426614174000} % 9 + ";
  std::string text;
  while (text.size() + piece.size() + 1 <= bytes) text += piece;
  text += "1";
  return text;
}

void BM_CompileLong(benchmark::State& state) {
  const std::string text = long_formula(static_cast<size_t>(state.range(0)) * 1024);
  for (auto _ : state) {
    auto program = vexlor::compile_str(text, text.size());
    benchmark::DoNotOptimize(program);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_CompileLong)->Unit(benchmark::kMillisecond)->Arg(1)->Arg(128)->Arg(1024);

// A text the fast path refuses (a comparison chain): the parser decides and words the error.
void BM_CompileError(benchmark::State& state) {
  for (auto _ : state) {
    auto program = vexlor::compile_str("a < b < c", 15);
    benchmark::DoNotOptimize(program);
  }
}
BENCHMARK(BM_CompileError);

void BM_WriteJson1000(benchmark::State& state) {
  const Program program = thousand_instructions();
  const size_t bytes = vexlor::write_json(program).size();
  for (auto _ : state) {
    std::string text = vexlor::write_json(program);
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_WriteJson1000);

void BM_ReadJson1000(benchmark::State& state) {
  const std::string text = vexlor::write_json(thousand_instructions());
  if (const char* out = std::getenv("VEXLOR_BENCH_JSON_OUT")) {
    if (FILE* f = std::fopen(out, "wb")) {
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
    }
  }
  for (auto _ : state) {
    auto program = vexlor::read_json(text);
    benchmark::DoNotOptimize(program);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["bytes"] = static_cast<double>(text.size());
}
BENCHMARK(BM_ReadJson1000);

// 1000 instructions without operands: the reader's cost per bare name.
void BM_ReadJsonOperatorsOnly(benchmark::State& state) {
  std::string text = "[";
  for (int i = 0; i < 1000; ++i) text += i == 0 ? "\"Add\"" : ",\"FloorDiv\"";
  text += "]";
  for (auto _ : state) {
    auto program = vexlor::read_json(text);
    benchmark::DoNotOptimize(program);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ReadJsonOperatorsOnly);

}  // namespace

BENCHMARK_MAIN();
