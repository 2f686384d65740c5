// The Arrow reader, the runner and the result writer, without Python.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "columnar/fast.hpp"
#include "columnar/read.hpp"
#include "columnar/result.hpp"
#include "columnar/runner.hpp"
#include "columnar/table.hpp"
#include "compiler/compiler.hpp"
#include "vm/vm.hpp"

namespace vexlor::columnar {
namespace {

void no_release(ArrowArray*) {}

// An array over caller-owned buffers.
ArrowArray make_array(int64_t length, std::vector<const void*>& buffers, int64_t null_count = 0, int64_t offset = 0) {
  return ArrowArray{length, null_count, offset, static_cast<int64_t>(buffers.size()), 0, buffers.data(),
                    nullptr, nullptr, no_release, nullptr};
}
ArrowSchema make_schema(const char* format) {
  return ArrowSchema{format, "x", nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr};
}

TEST(Columnar, FormatStrings) {
  struct Case {
    const char* format;
    bool ok;
    ValueType type;
    int bytes, scale;
  };
  const Case cases[] = {
      {"l", true, ValueType::Int64, 0, 0},       {"L", true, ValueType::UInt64, 0, 0},
      {"g", true, ValueType::Float64, 0, 0},     {"vu", true, ValueType::Utf8View, 0, 0},
      {"d:18,2", true, ValueType::Decimal, 16, 2}, {"d:9,3,32", true, ValueType::Decimal, 4, 3},
      {"d:18,-2,64", true, ValueType::Decimal, 8, -2}, {"d:76,2,256", false, {}, 0, 0},
      {"d:10,2,32", false, {}, 0, 0},             {"d:18", false, {}, 0, 0},
      {"d:18,2,", false, {}, 0, 0},               {"z", false, {}, 0, 0},
      {"tdD", false, {}, 0, 0},                   {"", false, {}, 0, 0}};
  for (const Case& c : cases) {
    auto t = parse_format(c.format, nullptr);
    ASSERT_EQ(t.ok(), c.ok) << c.format;
    if (!c.ok) continue;
    EXPECT_EQ(t->type, c.type) << c.format;
    EXPECT_EQ(t->decimal_bytes, c.bytes) << c.format;
    EXPECT_EQ(t->scale, c.scale) << c.format;
  }
  EXPECT_TRUE(parse_format("s", "u").ok());
  EXPECT_FALSE(parse_format("u", "u").ok());  // string indices
  EXPECT_EQ(type_name("d:18,2"), "decimal128(18,2)");
}

TEST(Columnar, FloatReprIsPythons) {
  const std::pair<double, const char*> cases[] = {
      {0.1, "0.1"},         {123.0, "123.0"},     {1e16, "1e+16"},       {1e15, "1000000000000000.0"},
      {1.5e-05, "1.5e-05"}, {0.0001, "0.0001"},   {-0.0, "-0.0"},        {5e-324, "5e-324"},
      {1e22, "1e+22"},      {-2.5, "-2.5"},       {1.7976931348623157e308, "1.7976931348623157e+308"},
      {std::numeric_limits<double>::quiet_NaN(), "nan"}, {-std::numeric_limits<double>::infinity(), "-inf"}};
  for (const auto& [value, text] : cases) {
    char out[32];
    EXPECT_EQ(std::string(out, float_repr(value, out)), text);
  }
}

TEST(Columnar, MalformedArraysAreRefused) {
  const int32_t good_offsets[] = {0, 1, 2};
  const int32_t bad_offsets[] = {0, 5, 2};
  const char chars[] = "12";
  std::vector<const void*> strings{nullptr, good_offsets, chars};
  std::vector<const void*> unordered{nullptr, bad_offsets, chars};
  std::vector<const void*> two{nullptr, good_offsets};
  const ArrowSchema utf8 = make_schema("u");
  EXPECT_TRUE(view_array(utf8, make_array(2, strings), 0, 2).ok());
  EXPECT_FALSE(view_array(utf8, make_array(2, unordered), 0, 2).ok());
  EXPECT_FALSE(view_array(utf8, make_array(2, two), 0, 2).ok());        // buffer count
  EXPECT_FALSE(view_array(utf8, make_array(2, strings), 1, 2).ok());    // rows beyond the array
  EXPECT_FALSE(view_array(utf8, make_array(-1, strings), 0, 0).ok());
  ArrowArray released = make_array(2, strings);
  released.release = nullptr;
  EXPECT_FALSE(view_array(utf8, released, 0, 2).ok());
  std::vector<const void*> missing{nullptr, nullptr};
  EXPECT_FALSE(view_array(make_schema("l"), make_array(1, missing), 0, 1).ok());

  // A dictionary index beyond the dictionary.
  const int8_t indices[] = {0, 2};
  std::vector<const void*> index_buffers{nullptr, indices};
  ArrowSchema values_schema = make_schema("u");
  ArrowSchema dict_schema = make_schema("c");
  dict_schema.dictionary = &values_schema;
  ArrowArray values = make_array(2, strings);
  ArrowArray dict = make_array(2, index_buffers);
  dict.dictionary = &values;
  EXPECT_FALSE(view_array(dict_schema, dict, 0, 2).ok());
  const int8_t in_range[] = {1, 0};
  index_buffers[1] = in_range;
  ASSERT_TRUE(view_array(dict_schema, dict, 0, 2).ok());

  // A string view that points outside its buffer.
  unsigned char views[32] = {};
  const int32_t long_len = 20, buffer = 0, start = 0;
  std::memcpy(views, &long_len, 4);
  std::memcpy(views + 8, &buffer, 4);
  std::memcpy(views + 12, &start, 4);
  const char data[20] = {};
  int64_t sizes[] = {19};
  std::vector<const void*> view_buffers{nullptr, views, data, sizes};
  EXPECT_FALSE(view_array(make_schema("vu"), make_array(1, view_buffers), 0, 1).ok());
  sizes[0] = 20;
  EXPECT_TRUE(view_array(make_schema("vu"), make_array(1, view_buffers), 0, 1).ok());
}

Column column_of(const ArrowSchema& schema, const ArrowArray& array, const char* key) {
  Column c;
  c.key = key;
  auto v = view_array(schema, array, 0, array.length);
  EXPECT_TRUE(v.ok());
  c.append(std::move(*v));
  return c;
}

// Row i of a run as its own value (the result at the largest scale, read back).
Decimal value_of(const RunResult& run, int64_t i) {
  RunResult copy;
  copy.length = 1;
  copy.rows.data.allocate(16);
  std::memcpy(copy.rows.words(0), run.rows.words(i), 16);
  copy.rows.scale = {run.rows.scale[i]};
  copy.rows.valid = {1};
  copy.least_scale = copy.most_scale = run.rows.scale[i] & ~NEGATIVE_ZERO;
  bool oom = false;
  return make_result(std::move(copy), std::nullopt, oom)->value(0);
}

TEST(Columnar, RunnerMatchesRowByRow) {
  constexpr int64_t n = 5000;
  std::vector<int64_t> a(n), b(n);
  std::vector<uint8_t> validity((n + 7) / 8, 0xFF);
  for (int64_t i = 0; i < n; ++i) {
    a[i] = i * 7 - 1000;
    b[i] = i % 13 - 6;
  }
  validity[100 / 8] &= static_cast<uint8_t>(~(1u << (100 % 8)));
  std::vector<const void*> ab{nullptr, a.data()}, bb{validity.data(), b.data()};
  const ArrowSchema l = make_schema("l");
  const ArrowArray aa = make_array(n, ab), ba = make_array(n, bb, 1);
  const Column ca = column_of(l, aa, "a"), cb = column_of(l, ba, "b");
  const BoundColumn cols[] = {{VarId::name("a"), &ca}, {VarId::name("b"), &cb}};
  auto program = compile_str("a / b + (a > 0 ? 1 : b)", 15);
  ASSERT_TRUE(program.ok());
  for (const auto gas : {std::optional<uint64_t>{}, std::optional<uint64_t>{12}}) {
    RunResult one = run_columns(*program, cols, n, {gas, true, 1});
    RunResult four = run_columns(*program, cols, n, {gas, true, 4});
    ASSERT_EQ(one.rows.valid, four.rows.valid);
    for (int64_t i = 0; i < n; ++i) {
      VmContext context;
      context.variables.insert_or_assign(VarId::name("a"), Decimal::new_(a[i], 0));
      if (i != 100) context.variables.insert_or_assign(VarId::name("b"), Decimal::new_(b[i], 0));
      auto want = run(*program, context, gas);
      ASSERT_EQ(one.rows.valid[i], want.ok() ? 1 : 0) << i;
      if (want.ok()) {
        ASSERT_TRUE(value_of(one, i).same_repr(*want)) << i;
        ASSERT_TRUE(value_of(four, i).same_repr(*want)) << i;
      }
    }
    RunResult raised = run_columns(*program, cols, n, {gas, false, 3});
    ASSERT_TRUE(raised.failure.has_value());
    EXPECT_EQ(raised.failure->first, gas ? 0 : 6);  // b is 0 first at row 6
  }
}

RunResult rows_of(std::vector<Decimal> values, std::vector<uint8_t> valid) {
  RunResult run;
  run.length = static_cast<int64_t>(values.size());
  run.rows.data.allocate(16 * values.size());
  run.rows.scale.resize(values.size());
  run.rows.valid.assign(valid.begin(), valid.end());
  for (size_t i = 0; i < values.size(); ++i) {
    run.rows.store(static_cast<int64_t>(i), values[i]);
    run.null_count += valid[i] == 0;
    if (!valid[i]) continue;
    run.least_scale = std::min<uint8_t>(run.least_scale, static_cast<uint8_t>(values[i].scale()));
    run.most_scale = std::max<uint8_t>(run.most_scale, static_cast<uint8_t>(values[i].scale()));
  }
  return run;
}

TEST(Columnar, ResultScaleRoundingAndOverflow) {
  const std::vector<Decimal> values = {Decimal::new_(125, 2), Decimal::new_(-135, 2), Decimal(), Decimal::new_(7, 0),
                                       -Decimal()};
  const std::vector<uint8_t> valid = {1, 1, 0, 1, 1};
  bool oom = false;
  auto r = make_result(rows_of(values, valid), 1, oom);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->value(0).to_string(), "1.2");  // half to even
  EXPECT_EQ(r->value(1).to_string(), "-1.4");
  EXPECT_EQ(r->value(3).to_string(), "7");
  EXPECT_EQ(r->value(4).to_string(), "-0");
  const auto* words = static_cast<const int64_t*>(r->rows.data.data.get());
  EXPECT_EQ(words[0], 12);
  EXPECT_EQ(words[2], -14);
  EXPECT_EQ(words[3], -1);
  EXPECT_EQ(words[4], 0);  // the null
  EXPECT_EQ(words[6], 70);
  EXPECT_EQ(static_cast<const uint8_t*>(r->validity.data.get())[0], 0b11011);
  auto widest = make_result(rows_of(values, valid), std::nullopt, oom);
  ASSERT_TRUE(widest.ok());
  EXPECT_EQ(widest->scale, 2);
  EXPECT_EQ(widest->value(0).to_string(), "1.25");
  EXPECT_EQ(widest->value(3).to_string(), "7");
  std::vector<Decimal> big = values;
  big[3] = Decimal::max_value();
  auto overflow = make_result(rows_of(big, valid), 10, oom);
  ASSERT_FALSE(overflow.ok());
  EXPECT_EQ(overflow.error().row, 3);
  auto fits = make_result(rows_of(big, valid), 9, oom);  // 29 + 9 digits
  ASSERT_TRUE(fits.ok());
  EXPECT_TRUE(fits->value(3).same_repr(Decimal::max_value()));
}

TEST(Columnar, ConstantsReadAsColumns) {
  constexpr int64_t n = 3000;
  std::vector<int64_t> a(n);
  std::vector<uint8_t> validity((n + 7) / 8, 0xFF);
  for (int64_t i = 0; i < n; ++i) a[i] = i * 37 % 2001 - 1000;
  validity[7] = 0;
  std::vector<const void*> ab{validity.data(), a.data()};
  const ArrowSchema l = make_schema("l");
  const ArrowArray aa = make_array(n, ab, 8);
  const Column ca = column_of(l, aa, "a");
  // k as a constant and as a decimal128(38, 3) column of its two words.
  const std::tuple<const char*, int64_t, int64_t> cases[] = {{"-2.500", -2500, -1},
                                                             {"1180591620717411303.424", 0, 64}};  // 2^70
  for (const auto& [text, lo, hi] : cases) {
    const Decimal k = *Decimal::from_str(text);
    std::vector<int64_t> words(2 * n);
    for (int64_t i = 0; i < n; ++i) {
      words[2 * i] = lo;
      words[2 * i + 1] = hi;
    }
    std::vector<const void*> kb{nullptr, words.data()};
    const ArrowSchema s3 = make_schema("d:38,3");
    const ArrowArray ka = make_array(n, kb);
    const Column ck = column_of(s3, ka, "k");
    const BoundColumn with_column[] = {{VarId::name("a"), &ca}, {VarId::name("k"), &ck}};
    const BoundColumn only_a[] = {{VarId::name("a"), &ca}};
    const BoundConstant constant[] = {{VarId::name("k"), k}};
    for (const char* expression : {"a * k + (a > 0 ? k : 2)", "a - k / 7"})  // covered, not covered
    for (const bool vectorised : {true, false}) {
      auto program = compile_str(expression, 15);
      ASSERT_TRUE(program.ok());
      const RunResult want = run_columns(*program, with_column, n, {{}, true, 1, vectorised});
      RunOptions options{{}, true, 2, vectorised};
      options.constants = constant;
      const RunResult got = run_columns(*program, only_a, n, options);
      ASSERT_EQ(want.rows.valid, got.rows.valid);
      ASSERT_EQ(got.rows.valid[60], 0);  // a null a
      for (int64_t i = 0; i < n; ++i) {
        if (want.rows.valid[i]) {
          ASSERT_TRUE(value_of(want, i).same_repr(value_of(got, i))) << i;
        }
      }
    }
  }
}

bool stop_on_third_call(void* calls) { return ++*static_cast<int*>(calls) >= 3; }

TEST(Columnar, CancelStopsTheRunAndThePoolStaysUsable) {
  constexpr int64_t n = 1 << 20;
  std::vector<int64_t> a(n);
  for (int64_t i = 0; i < n; ++i) a[i] = i + 1;
  std::vector<const void*> ab{nullptr, a.data()};
  const ArrowSchema l = make_schema("l");
  const ArrowArray aa = make_array(n, ab);
  const Column ca = column_of(l, aa, "a");
  const BoundColumn cols[] = {{VarId::name("a"), &ca}};
  auto program = compile_str("1 / a", 15);  // the single-row path
  ASSERT_TRUE(program.ok());
  for (const unsigned threads : {1u, 2u}) {
    std::atomic<bool> cancel{true};
    RunOptions options{{}, false, threads};
    options.cancel = &cancel;
    RunResult r = run_columns(*program, cols, n, options);
    EXPECT_TRUE(r.cancelled);  // the rows are left unwritten
    int calls = 0;
    options.cancel = nullptr;
    options.poll = stop_on_third_call;
    options.poll_arg = &calls;
    r = run_columns(*program, cols, n, options);
    EXPECT_TRUE(r.cancelled);
    EXPECT_EQ(calls, 3);
    options.poll = nullptr;
    r = run_columns(*program, cols, n, options);
    EXPECT_FALSE(r.cancelled);
    EXPECT_EQ(std::count(r.rows.valid.begin(), r.rows.valid.end(), 1), n);
  }
}

}  // namespace
}  // namespace vexlor::columnar

namespace vexlor::columnar {
namespace {

// A random expression over a, b and c of the forms the vectorised path covers
// (and a few it does not), `depth` levels deep at most.
std::string random_expression(std::mt19937_64& rng, int depth) {
  static const char* LEAVES[] = {"a", "b", "c", "d", "d", "0", "1", "2", "-1", "0.5", "1.07", "3", "10", "0.001",
                                 "100000000000", "9223372036854775807", "-0"};
  static const char* BINARY[] = {"+", "-", "*", "==", "!=", "<", "<=", ">", ">=", "and", "or", "/"};
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  if (depth == 0 || pick(4) == 0) return LEAVES[pick(std::size(LEAVES))];
  const auto sub = [&] { return random_expression(rng, depth - 1); };
  switch (pick(8)) {
    case 0: return "-" + std::string(pick(2) ? "a" : "b");
    case 1: return "not " + sub();
    case 2: return std::string(pick(2) ? "max(" : "min(") + sub() + ", " + sub() + (pick(2) ? ", " + sub() : "") + ")";
    case 3: return "abs(" + sub() + ")";
    case 4: return "round(" + sub() + (pick(3) ? ", " + std::to_string(pick(5)) : "") + ")";
    case 5: return "(" + sub() + " ? " + sub() + " : " + sub() + ")";
    default: return "(" + sub() + " " + BINARY[pick(std::size(BINARY))] + " " + sub() + ")";
  }
}

TEST(Columnar, VectorisedPathMatchesSingleRows) {
  std::mt19937_64 rng(11);
  constexpr int64_t n = 2100;
  static const int64_t EDGES[] = {0, 1, -1, 2, 5, -5, 10, 99, 100, 125, 150, -150, 3037000499, INT64_MAX, INT64_MIN,
                                  INT64_MAX / 10, 1000000000000000000};
  std::vector<int64_t> ints(n), dec2(2 * n), dec5(2 * n), dec3(n);
  std::vector<uint8_t> validity((n + 7) / 8);
  for (int64_t i = 0; i < n; ++i) {
    auto value = [&] { return rng() % 3 ? static_cast<int64_t>(rng() % 20000) - 10000 : EDGES[rng() % std::size(EDGES)]; };
    ints[i] = value();
    dec2[2 * i] = value();
    dec2[2 * i + 1] = dec2[2 * i] < 0 ? -1 : 0;
    dec5[2 * i] = value();
    dec5[2 * i + 1] = rng() % 50 ? (dec5[2 * i] < 0 ? -1 : 0) : 1;  // now and then beyond 64 bits
    if (rng() % 10) validity[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    dec3[i] = static_cast<int64_t>(rng() % 1000) + 1;  // never zero
  }
  std::vector<const void*> ib{nullptr, ints.data()}, d2{validity.data(), dec2.data()}, d5{nullptr, dec5.data()},
      d3{nullptr, dec3.data()};
  const ArrowSchema l = make_schema("l"), s2 = make_schema("d:18,2"), s5 = make_schema("d:38,5"),
                    s3 = make_schema("d:18,3,64");
  const ArrowArray ia = make_array(n, ib), da = make_array(n, d2, -1), ea = make_array(n, d5), fa = make_array(n, d3);
  const Column ca = column_of(l, ia, "a"), cb = column_of(s2, da, "b"), cc = column_of(s5, ea, "c"),
               cd = column_of(s3, fa, "d");
  const BoundColumn cols[] = {{VarId::name("a"), &ca}, {VarId::name("b"), &cb}, {VarId::name("c"), &cc},
                              {VarId::name("d"), &cd}};
  int covered = 0;
  for (int t = 0; t < 400; ++t) {
    const std::string text = random_expression(rng, 4);
    auto program = compile_str(text, 64);
    if (!program.ok()) continue;  // not every random text is an expression
    std::vector<BoundColumn> used;
    std::vector<VarId> vars;
    for (const BoundColumn& c : cols) {
      if (text.find(c.column->key) != std::string::npos) {
        used.push_back(c);
        vars.push_back(c.var);
      }
    }
    const std::optional<uint64_t> gas = t % 5 == 0 ? std::optional<uint64_t>(40) : std::nullopt;
    covered += fast::make_plan(*program, vars, gas).has_value();
    for (const bool to_null : {true, false}) {
      const RunResult want = run_columns(*program, used, n, {gas, to_null, 1, false});
      const RunResult got = run_columns(*program, used, n, {gas, to_null, 2, true});
      for (int64_t i = 0; to_null && i < n; ++i) {  // a raised run leaves the rows after the failure
        ASSERT_EQ(want.rows.valid[i], got.rows.valid[i]) << text << " row " << i << " a " << ints[i] << " b " << dec2[2 * i]
                                               << " c " << dec5[2 * i] << "," << dec5[2 * i + 1];
        if (!want.rows.valid[i]) continue;
        const Decimal w = value_of(want, i), g = value_of(got, i);
        ASSERT_TRUE(w.same_repr(g)) << text << " row " << i << ": " << w.to_string() << " vs " << g.to_string();
      }
      ASSERT_EQ(want.failure.has_value(), got.failure.has_value()) << text;
      if (want.failure) {
        EXPECT_EQ(want.failure->first, got.failure->first) << text;
        EXPECT_EQ(want.failure->second.vm, got.failure->second.vm) << text;
      }
    }
  }
  EXPECT_GT(covered, 150);
}

}  // namespace
}  // namespace vexlor::columnar
