// The Arrow reader, the runner and the result writer, without Python.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "columnar/fast.hpp"
#include "columnar/scalar.hpp"
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
  const std::pair<float, const char*> singles[] = {{0.1f, "0.1"}, {123.0f, "123.0"}, {1e16f, "1e+16"},
                                                   {16777216.0f, "16777216.0"}, {3.4028235e38f, "3.4028235e+38"},
                                                   {1e-45f, "1e-45"}, {-0.3f, "-0.3"}, {1.5e-5f, "1.5e-05"}};
  for (const auto& [value, text] : singles) {
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

// A struct longer than its columns, nulls without a bitmap, a column named twice,
// a producer's text that is not UTF-8 (shown escaped), offsets near the limit.
TEST(Columnar, MalformedTablesAreRefused) {
  const int64_t ints[] = {1, 2, 3};
  std::vector<const void*> plain{nullptr, ints};
  ArrowSchema a = make_schema("l"), b = make_schema("l");
  a.name = "a";
  b.name = "b";
  ArrowSchema* fields[] = {&a, &b};
  ArrowSchema table = make_schema("+s");
  table.n_children = 2;
  table.children = fields;
  ArrowArray ca = make_array(3, plain), cb = make_array(3, plain);
  ArrowArray* columns[] = {&ca, &cb};
  std::vector<const void*> no_bitmap{nullptr};
  ArrowArray batch = make_array(3, no_bitmap);
  batch.n_children = 2;
  batch.children = columns;
  const VarId want[] = {VarId::name("a")};
  const auto child_of = match_columns(table, want);
  ASSERT_TRUE(child_of.ok());
  auto append = [&] {
    std::vector<Column> out(1);
    const auto error = append_batch(table, batch, *child_of, out);
    return error.value_or("");
  };
  EXPECT_EQ(append(), "");
  cb.length = 2;  // shorter than the struct, though not read
  EXPECT_EQ(append(), "batch of 3 rows from row 0 whose column 'b' has 2");
  cb.length = 3;
  batch.offset = INT64_MAX - 1;  // no overflow while checking or telling
  EXPECT_NE(append(), "");
  batch.offset = 0;
  batch.null_count = 1;
  EXPECT_EQ(append(), "batch with 1 nulls but no validity bitmap");
  batch.null_count = 0;
  ca.null_count = 2;
  EXPECT_EQ(view_array(a, ca, 0, 3).error(), "array with 2 nulls but no validity bitmap");
  std::vector<const void*> none{};
  ArrowArray nulls = make_array(3, none, 3);
  EXPECT_TRUE(view_array(make_schema("n"), nulls, 0, 3).ok());  // the null type has no bitmap
  EXPECT_EQ(view_array(b, cb, INT64_MAX - 1, 5).error(),
            "array of 3 rows where 5 from row 9223372036854775806 are needed");
  b.name = "a";
  const auto twice = match_columns(table, want);
  ASSERT_FALSE(twice.ok());
  EXPECT_EQ(twice.error(), "duplicate column 'a': the table has more than one");

  const std::pair<std::string, std::string> texts[] = {
      {"plain é ✓ 😀", "plain é ✓ 😀"}, {"\xff", "\\xff"}, {"a\xc3", "a\\xc3"}, {"\xc0\xaf", "\\xc0\\xaf"},
      {"\xed\xa0\x80", "\\xed\\xa0\\x80"}, {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"}, {"\xe2\x9c", "\\xe2\\x9c"}};
  for (const auto& [text, shown] : texts) EXPECT_EQ(escaped_text(text), shown);
  EXPECT_EQ(type_name("\xffz"), "Arrow format '\\xffz'");
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
  std::vector<RunResult> runs;
  runs.push_back(std::move(copy));
  return make_result(std::move(runs), std::nullopt, oom)->value(0);
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

std::vector<RunResult> rows_of(std::vector<Decimal> values, std::vector<uint8_t> valid) {
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
  std::vector<RunResult> runs;
  runs.push_back(std::move(run));
  return runs;
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
  auto exported = prepare_export(std::make_shared<const ResultColumn>(std::move(*r)), ExportType{false, 1});
  ASSERT_TRUE(exported.ok() && *exported != nullptr);
  const auto* words = static_cast<const int64_t*>((*exported)->buffers[1]);
  EXPECT_EQ(words[0], 12);
  EXPECT_EQ(words[2], -14);
  EXPECT_EQ(words[3], -1);
  EXPECT_EQ(words[4], 0);  // the null
  EXPECT_EQ(words[6], 70);
  EXPECT_EQ(static_cast<const uint8_t*>((*exported)->buffers[0])[0], 0b11011);
  auto widest = make_result(rows_of(values, valid), std::nullopt, oom);
  ASSERT_TRUE(widest.ok());
  EXPECT_EQ(widest->scale(), 2);
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
  big[3] = *Decimal::from_str("10000000000000000000000000000");  // 10^28: 39 digits at scale 10
  EXPECT_FALSE(make_result(rows_of(big, valid), 10, oom).ok());
  EXPECT_TRUE(make_result(rows_of(big, valid), 9, oom).ok());
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
  // A row that loops stops inside: here the flag is set by the first poll,
  // which lets the block start.
  const Program loop{OpCode::push_const(Decimal()), OpCode::jump_if_false(0)};
  std::atomic<bool> cancel{false};
  RunOptions options{{}, true, 1};
  options.cancel = &cancel;
  options.poll = [](void* flag) {
    static_cast<std::atomic<bool>*>(flag)->store(true);
    return false;
  };
  options.poll_arg = &cancel;
  EXPECT_TRUE(run_columns(loop, cols, 3, options).cancelled);
}

}  // namespace
}  // namespace vexlor::columnar

namespace vexlor::columnar {
namespace {

// A random expression over the columns a..h, `depth` levels deep at most,
// using every instruction and built-in function.
std::string random_expression(std::mt19937_64& rng, int depth) {
  static const char* LEAVES[] = {"a", "b", "c", "d", "d", "e", "f", "g", "h", "0", "1", "2", "-1", "0.5", "1.07", "3",
                                 "10", "0.001", "100000000000", "9223372036854775807", "-0", "7", "365", "0.30",
                                 "79228162514264337593543950335", "1.0000000000000000000000000001"};
  static const char* BINARY[] = {"+", "-", "*", "==", "!=", "<", "<=", ">", ">=", "and", "or", "/", "/", "//", "%"};
  static const char* CALLS[] = {"add", "sum", "mul", "average", "max", "min"};
  static const char* UNARY[] = {"sqrt", "floor", "ceil", "abs", "round"};
  static const char* EXPONENTS[] = {"0", "1", "2", "3", "-1", "-2", "0.5", "d", "a"};
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  if (depth == 0 || pick(4) == 0) return LEAVES[pick(std::size(LEAVES))];
  const auto sub = [&] { return random_expression(rng, depth - 1); };
  switch (pick(11)) {
    case 0: return pick(3) ? "-" + sub() : "+" + sub();
    case 1: return "not " + sub();
    case 2: {
      std::string call = std::string(CALLS[pick(std::size(CALLS))]) + "(" + sub();
      for (size_t k = pick(3); k > 0; --k) call += ", " + sub();
      return call + ")";
    }
    case 3: return std::string(UNARY[pick(std::size(UNARY))]) + "(" + sub() + ")";
    case 4: return "round(" + sub() + ", " + (pick(3) ? std::to_string(pick(5)) : std::string("g")) + ")";
    case 5: return "(" + sub() + " ? " + sub() + " : " + sub() + ")";
    case 6: return "(" + sub() + " ^ " + EXPONENTS[pick(std::size(EXPONENTS))] + ")";
    default: return "(" + sub() + " " + BINARY[pick(std::size(BINARY))] + " " + sub() + ")";
  }
}

// A branch of a program from bytecode JSON that adds a value from below its
// condition: the plan must not take the condition for it.
TEST(Columnar, BranchesReadingBelowTheirConditionStayExact) {
  auto program = read_json(R"([{"PushConst":"10"},{"PushConst":"3"},{"PushConst":"1"},{"JumpIfFalse":8},"Add",)"
                           R"({"PushConst":"5"},{"PushConst":"6"},{"Jump":9},{"PushConst":"7"},"Add","Add"])");
  ASSERT_TRUE(program.ok());
  const RunResult r = run_columns(*program, {}, 3, {std::nullopt, true, 1, true});
  for (int64_t i = 0; i < 3; ++i) EXPECT_EQ(value_of(r, i).to_string(), "24");
}

// The block kernels' forms of the decimal operations against the operations.
TEST(Columnar, FastScalarsMatchTheDecimalOperations) {
  std::mt19937_64 rng(5);
  auto random = [&] {
    const uint32_t scale = static_cast<uint32_t>(rng() % 29);
    uint64_t lo = rng() >> (rng() % 64);
    const uint32_t hi = rng() % 4 == 0 ? static_cast<uint32_t>(rng() >> (rng() % 64)) : 0;
    if (rng() % 8 == 0) lo = POW10_U64[rng() % 20] * (rng() % 4);
    return Decimal::from_parts(lo, hi, scale, rng() % 2 == 0);
  };
  for (int i = 0; i < 50000; ++i) {
    const Decimal a = random(), b = random();
    Decimal got;
    const auto same = [&](const ArithResult& want, bool ok) {
      ASSERT_EQ(want.is_ok(), ok) << a.to_string() << " " << b.to_string();
      if (ok) {
        ASSERT_TRUE(want.value.same_repr(got)) << a.to_string() << " " << b.to_string() << " " << got.to_string();
      }
    };
    if (!b.is_zero()) {
      same(div_impl(a, b), fast::quotient(a, b, got));
      same(rem_impl(a, b), fast::remainder(a, b, got));
    }
    same(add_impl(a, b), fast::sum(a, b, false, got));
    same(sub_impl(a, b), fast::sum(a, b, true, got));
    const uint32_t places = static_cast<uint32_t>(rng() % 29);
    ASSERT_TRUE(fast::rounded(a, places).same_repr(a.round_dp(places))) << a.to_string() << " " << places;
    ASSERT_TRUE(fast::floored(a).same_repr(a.floor())) << a.to_string();
    ASSERT_TRUE(fast::ceiled(a).same_repr(a.ceil())) << a.to_string();
  }
}

// Longer runs: VEXLOR_COLUMNAR_SEED and VEXLOR_COLUMNAR_EXPRESSIONS (default 11 and 300).
int64_t env_or(const char* name, int64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::atoll(text) : fallback;
}

TEST(Columnar, VectorisedPathMatchesSingleRows) {
  std::mt19937_64 rng(static_cast<uint64_t>(env_or("VEXLOR_COLUMNAR_SEED", 11)));
  constexpr int64_t n = 2100;
  static const int64_t EDGES[] = {0, 1, -1, 2, 5, -5, 10, 99, 100, 125, 150, -150, 3037000499, INT64_MAX, INT64_MIN,
                                  INT64_MAX / 10, 1000000000000000000};
  static const double FLOATS[] = {0.1, 1.5, -2.25, 0.0, -0.0, 1e-7, 3.0, 123456.789, 1e30, 7.0};
  static const char* TEXTS[] = {"1.5", "-3", "0", "2.50", "abc", "1e3", "-0.00", "99.99"};
  std::vector<int64_t> ints(n), dec2(2 * n), dec5(2 * n), dec3(n);
  std::vector<double> floats(n);
  std::vector<float> floats32(n);
  std::vector<int32_t> offsets(n + 1);
  std::string chars;
  std::vector<int8_t> places(n);
  std::vector<uint8_t> validity((n + 7) / 8), sparse((n + 7) / 8);
  for (int64_t i = 0; i < n; ++i) {
    auto value = [&] { return rng() % 3 ? static_cast<int64_t>(rng() % 20000) - 10000 : EDGES[rng() % std::size(EDGES)]; };
    ints[i] = value();
    dec2[2 * i] = value();
    dec2[2 * i + 1] = dec2[2 * i] < 0 ? -1 : 0;
    dec5[2 * i] = value();
    dec5[2 * i + 1] = rng() % 50 ? (dec5[2 * i] < 0 ? -1 : 0) : 1;  // now and then beyond 64 bits
    if (rng() % 10) validity[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    if (rng() % 100) sparse[i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    dec3[i] = static_cast<int64_t>(rng() % 1000) + 1;  // never zero
    floats[i] = rng() % 4 ? static_cast<double>(static_cast<int64_t>(rng() % 20000) - 10000) / 100
                          : FLOATS[rng() % std::size(FLOATS)];
    if (rng() % 300 == 0) floats[i] = std::numeric_limits<double>::quiet_NaN();
    floats32[i] = static_cast<float>(floats[i] * 3.1);
    chars += TEXTS[rng() % std::size(TEXTS)];
    offsets[i + 1] = static_cast<int32_t>(chars.size());
    places[i] = static_cast<int8_t>(rng() % 5);
  }
  // The dictionary column: indices into five texts.
  const int32_t dict_offsets[] = {0, 1, 4, 6, 7, 9};
  const char dict_chars[] = "2-0.51.013";
  std::vector<const void*> ib{nullptr, ints.data()}, d2{validity.data(), dec2.data()}, d5{nullptr, dec5.data()},
      d3{nullptr, dec3.data()}, fb{sparse.data(), floats.data()}, tb{sparse.data(), offsets.data(), chars.data()},
      pb{nullptr, places.data()}, f32{nullptr, floats32.data()}, db{nullptr, dict_offsets, dict_chars};
  const ArrowSchema l = make_schema("l"), s2 = make_schema("d:18,2"), s5 = make_schema("d:38,5"),
                    s3 = make_schema("d:18,3,64"), sg = make_schema("g"), su = make_schema("u"),
                    sc = make_schema("c"), sf = make_schema("f");
  ArrowSchema dict_schema = make_schema("c"), dict_values = make_schema("u");
  dict_schema.dictionary = &dict_values;
  ArrowArray dict_array = make_array(5, db);
  std::vector<const void*> hb{nullptr, places.data()};
  ArrowArray ha = make_array(n, hb);
  ha.dictionary = &dict_array;
  const ArrowArray ia = make_array(n, ib), da = make_array(n, d2, -1), ea = make_array(n, d5), fa = make_array(n, d3),
                   xa = make_array(n, fb, -1), ta = make_array(n, tb, -1), ga = make_array(n, pb),
                   ya = make_array(n, f32);
  (void)sc;
  const Column ca = column_of(l, ia, "a"), cb = column_of(s2, da, "b"), cc = column_of(s5, ea, "c"),
               cd = column_of(s3, fa, "d"), ce = column_of(sg, xa, "e"), cf = column_of(su, ta, "f"),
               cg = column_of(make_schema("c"), ga, "g"), ch = column_of(dict_schema, ha, "h"),
               cy = column_of(sf, ya, "y");
  (void)cy;
  const BoundColumn cols[] = {{VarId::name("a"), &ca}, {VarId::name("b"), &cb}, {VarId::name("c"), &cc},
                              {VarId::name("d"), &cd}, {VarId::name("e"), &ce}, {VarId::name("f"), &cf},
                              {VarId::name("g"), &cg}, {VarId::name("h"), &ch}};
  int covered = 0;
  int64_t single = 0, failed = 0;
  const int64_t expressions = env_or("VEXLOR_COLUMNAR_EXPRESSIONS", 300);
  for (int64_t t = 0; t < expressions; ++t) {
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
    static const std::optional<uint64_t> GAS[] = {std::nullopt, 40, 12, 7};
    const std::optional<uint64_t> gas = GAS[t % 4];
    covered += fast::make_plan(*program, vars, gas).has_value();
    for (const bool to_null : {true, false}) {
      const RunResult want = run_columns(*program, used, n, {gas, to_null, 1, false});
      const RunResult got = run_columns(*program, used, n, {gas, to_null, t % 2 ? 4u : 1u, true});
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
      if (to_null) {
        ASSERT_EQ(want.null_count, got.null_count) << text;
        single += got.single_rows;
        failed += want.null_count;
      }
    }
  }
  EXPECT_GT(covered, 250);
  EXPECT_LE(single, failed);  // rows on the single-row path: failing ones (or null ones, at most)
}

}  // namespace
}  // namespace vexlor::columnar
