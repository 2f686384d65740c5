// The Arrow reader, the runner and the result writer, without Python.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

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
    ASSERT_EQ(one.valid, four.valid);
    for (int64_t i = 0; i < n; ++i) {
      VmContext context;
      context.variables.insert_or_assign(VarId::name("a"), Decimal::new_(a[i], 0));
      if (i != 100) context.variables.insert_or_assign(VarId::name("b"), Decimal::new_(b[i], 0));
      auto want = run(*program, context, gas);
      ASSERT_EQ(one.valid[i], want.ok() ? 1 : 0) << i;
      if (want.ok()) {
        ASSERT_TRUE(one.values[i].same_repr(*want)) << i;
        ASSERT_TRUE(four.values[i].same_repr(*want)) << i;
      }
    }
    RunResult raised = run_columns(*program, cols, n, {gas, false, 3});
    ASSERT_TRUE(raised.failure.has_value());
    EXPECT_EQ(raised.failure->first, gas ? 0 : 6);  // b is 0 first at row 6
  }
}

TEST(Columnar, ResultScaleRoundingAndOverflow) {
  RunResult run;
  run.values = {Decimal::new_(125, 2), Decimal::new_(-135, 2), Decimal(), Decimal::new_(7, 0)};
  run.valid = {1, 1, 0, 1};
  run.null_count = 1;
  bool oom = false;
  auto r = make_result(RunResult(run), 1, oom);
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r->values[0].to_string(), "1.2");  // half to even
  EXPECT_EQ(r->values[1].to_string(), "-1.4");
  const auto* words = static_cast<const int64_t*>(r->data.data.get());
  EXPECT_EQ(words[0], 12);
  EXPECT_EQ(words[2], -14);
  EXPECT_EQ(words[3], -1);
  EXPECT_EQ(words[6], 70);
  EXPECT_EQ(static_cast<const uint8_t*>(r->validity.data.get())[0], 0b1011);
  auto widest = make_result(RunResult(run), std::nullopt, oom);
  ASSERT_TRUE(widest.ok());
  EXPECT_EQ(widest->scale, 2);
  run.values[3] = Decimal::max_value();
  auto overflow = make_result(RunResult(run), 10, oom);
  ASSERT_FALSE(overflow.ok());
  EXPECT_EQ(overflow.error().row, 3);
  EXPECT_TRUE(make_result(RunResult(run), 9, oom).ok());  // 29 + 9 digits
}

}  // namespace
}  // namespace vexlor::columnar
