// The columnar runner without Python: ns per row and the share of rows on the
// single-row path for the formulas of bench_columns.py, over decimal128(18, 2)
// columns a..f of values 1.00..99.99 (and `add` over float64 and text columns).
// Its instruction counts per row (valgrind --tool=callgrind) judge a change on
// a noisy machine:
//   bench_columns_core [--rows N] [--only NAME] [--threads T] [--repeat R]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "columnar/runner.hpp"
#include "columnar/table.hpp"
#include "compiler/compiler.hpp"

using namespace vexlor;
using namespace vexlor::columnar;

namespace {

struct Formula {
  const char* name;
  const char* text;
  char kind;  // 'd': decimal columns, 'g': float64, 'u': text
};

const Formula FORMULAS[] = {
    {"add", "a + b * 2", 'd'},
    {"round", "round(max(a, b) * 1.07, 2)", 'd'},
    {"div_round", "round(a / b + c, 2)", 'd'},
    {"mod_floor", "a % 7 + floor(b / 3)", 'd'},
    {"interest", "round(a * (1 + b / 365) - c / 3, 2)", 'd'},
    {"formula_div",
     "a * 1.07 + b / 4 - c * d / 100 + (e - f) / 3 + a * b - c + d * e - f + a * 2 - b + c * d - e + f * 0.5 + a - "
     "b * c + d - e / 8 + f",
     'd'},
    {"add_float64", "a + b * 2", 'g'},
    {"add_text", "a + b * 2", 'u'},
};

void no_release(ArrowArray*) {}

struct Data {
  std::vector<int64_t> words;
  std::vector<double> floats;
  std::vector<int32_t> offsets;
  std::string chars;
  std::vector<const void*> buffers;
  ArrowArray array{};
  ArrowSchema schema{};
  Column column;
};

void make(Data& d, char kind, int64_t rows, std::mt19937_64& rng, const char* key) {
  d.words.resize(2 * static_cast<size_t>(rows));
  d.floats.resize(static_cast<size_t>(rows));
  d.offsets.assign(1, 0);
  for (int64_t i = 0; i < rows; ++i) {
    const int64_t v = 100 + static_cast<int64_t>(rng() % 9900);
    d.words[2 * i] = v;
    d.floats[i] = static_cast<double>(v) / 100;
    if (kind != 'u') continue;
    char text[16];
    d.chars.append(text, static_cast<size_t>(std::snprintf(text, sizeof text, "%lld.%02lld",
                                                           static_cast<long long>(v / 100), static_cast<long long>(v % 100))));
    d.offsets.push_back(static_cast<int32_t>(d.chars.size()));
  }
  if (kind == 'd') d.buffers = {nullptr, d.words.data()};
  if (kind == 'g') d.buffers = {nullptr, d.floats.data()};
  if (kind == 'u') d.buffers = {nullptr, d.offsets.data(), d.chars.data()};
  d.array = ArrowArray{rows, 0, 0, static_cast<int64_t>(d.buffers.size()), 0, d.buffers.data(), nullptr, nullptr,
                       no_release, nullptr};
  d.schema = ArrowSchema{kind == 'd' ? "d:18,2" : kind == 'g' ? "g" : "u", key, nullptr, 0, 0, nullptr, nullptr,
                         nullptr, nullptr};
  d.column.key = key;
  d.column.append(std::move(*view_array(d.schema, d.array, 0, rows)));
}

}  // namespace

int main(int argc, char** argv) {
  int64_t rows = 1000000;
  unsigned threads = 1;
  int repeat = 5;
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rows") == 0) rows = std::atoll(argv[i + 1]);
    if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
    if (std::strcmp(argv[i], "--threads") == 0) threads = static_cast<unsigned>(std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--repeat") == 0) repeat = std::atoi(argv[i + 1]);
  }
  std::printf("%-12s %10s %14s\n", "formula", "ns/row", "single rows");
  for (const Formula& f : FORMULAS) {
    if (!only.empty() && only != f.name) continue;
    std::mt19937_64 rng(1);
    static const char* KEYS[] = {"a", "b", "c", "d", "e", "f"};
    std::vector<Data> data(6);
    std::vector<BoundColumn> columns;
    for (size_t j = 0; j < 6; ++j) {
      if (std::strchr(f.text, KEYS[j][0]) == nullptr) continue;
      make(data[j], f.kind, rows, rng, KEYS[j]);
      columns.push_back({VarId::name(KEYS[j]), &data[j].column});
    }
    const auto program = compile_str(f.text, 64);
    if (!program.ok()) return 1;
    double best = 1e300;
    int64_t single = 0;
    for (int r = 0; r < repeat; ++r) {
      const auto start = std::chrono::steady_clock::now();
      const RunResult result = run_columns(*program, columns, rows, {std::nullopt, false, threads, true});
      const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
      best = std::min(best, took.count() / static_cast<double>(rows));
      single = result.single_rows;
    }
    std::printf("%-12s %10.1f %13.4f%%\n", f.name, best, 100.0 * static_cast<double>(single) / static_cast<double>(rows));
  }
  return 0;
}
