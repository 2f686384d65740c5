// Fuzzes the Arrow reader: format strings, lengths and offsets, validity
// bitmaps, string offsets and views, dictionary indices and buffer counts. The
// buffers are as large as the Arrow layout makes them for the array's declared
// length and offset (the C data interface carries no sizes, so a reader can
// only be asked to be safe for honestly sized buffers); their contents are
// arbitrary. Every view the reader accepts is read in full and run through a
// program; values read must be valid decimals. The rest of the input builds a
// table read batch by batch as a stream gives it (batches of differing lengths,
// offsets and buffers, a malformed one ending the stream), run with a constant
// and now and then a cancel flag; and checks the float32 and escaped texts.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "check.hpp"
#include "columnar/read.hpp"
#include "columnar/runner.hpp"
#include "columnar/table.hpp"
#include "compiler/compiler.hpp"

using namespace vexlor;
using namespace vexlor::columnar;

namespace {

constexpr const char* FORMATS[] = {"n", "b", "c", "s", "i", "l", "C", "S", "I", "L", "f", "g", "u", "U", "vu",
                                   "d:18,2", "d:38,10", "d:38,30", "d:9,3,32", "d:18,-3,64", "d:38,0", "z", "d:1",
                                   "+s", ""};
constexpr size_t FORMAT_COUNT = sizeof FORMATS / sizeof FORMATS[0];

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  void fill(void* out, size_t n) {
    auto* p = static_cast<uint8_t*>(out);
    for (size_t i = 0; i < n; ++i) p[i] = byte();
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

void no_release(ArrowArray*) {}

// One array with its buffers (owned here).
struct Built {
  ArrowArray array{};
  std::vector<std::unique_ptr<uint8_t[]>> owned;
  std::vector<const void*> buffers;
  std::unique_ptr<Built> dictionary;

  const void* add(size_t bytes, Input& in) {
    owned.push_back(std::make_unique<uint8_t[]>(bytes + 1));
    in.fill(owned.back().get(), bytes);
    return owned.back().get();
  }
};

size_t width_of(std::string_view f) {
  if (f == "c" || f == "C") return 1;
  if (f == "s" || f == "S") return 2;
  if (f == "i" || f == "I" || f == "f" || f == "d:9,3,32") return 4;
  if (f == "l" || f == "L" || f == "g" || f == "d:18,-3,64") return 8;
  if (f.substr(0, 2) == "d:") return 16;
  return 8;
}

// Builds an array of format `f`; false when the input asks for buffers that
// an honest producer would size differently (too large to build here).
bool build(std::string_view f, Input& in, Built& b) {
  const int64_t length = in.byte() % 70;
  const int64_t offset = in.byte() % 9;
  const uint8_t flags = in.byte();
  const int64_t rows = offset + length;
  b.buffers.push_back((flags & 1) ? b.add(static_cast<size_t>((rows + 7) / 8), in) : nullptr);
  if (f == "u" || f == "U") {
    const size_t w = f == "u" ? 4 : 8;
    const void* offsets = b.add(w * static_cast<size_t>(rows + 1), in);
    int64_t most = 0;
    for (int64_t i = offset; i <= rows; ++i) {
      int64_t o;
      if (w == 4) {
        int32_t v;
        std::memcpy(&v, static_cast<const uint8_t*>(offsets) + 4 * i, 4);
        o = v;
      } else {
        std::memcpy(&o, static_cast<const uint8_t*>(offsets) + 8 * i, 8);
      }
      if (o > (1 << 16)) return false;
      most = std::max(most, o);
    }
    b.buffers.push_back(offsets);
    b.buffers.push_back(b.add(static_cast<size_t>(most), in));
  } else if (f == "vu") {
    b.buffers.push_back(b.add(16 * static_cast<size_t>(rows), in));
    const int variadic = in.byte() % 4;
    b.owned.push_back(std::make_unique<uint8_t[]>(8 * static_cast<size_t>(variadic) + 8));
    uint8_t* sizes = b.owned.back().get();
    for (int v = 0; v < variadic; ++v) {
      const int64_t bytes = in.byte();
      std::memcpy(sizes + 8 * v, &bytes, 8);
      b.buffers.push_back(b.add(static_cast<size_t>(bytes), in));
    }
    b.buffers.push_back(sizes);
  } else if (f == "b") {
    b.buffers.push_back(b.add(static_cast<size_t>((rows + 7) / 8), in));
  } else if (f != "n") {
    b.buffers.push_back(b.add(width_of(f) * static_cast<size_t>(rows), in));
  }
  // A buffer too few or too many (a string view array's count is not checkable:
  // its last buffer gives the sizes of the others).
  if (f != "vu" && (flags & 2)) b.buffers.pop_back();
  if (f != "vu" && (flags & 4)) b.buffers.push_back(nullptr);
  const int64_t null_count = (flags & 8) ? -1 : (flags & 16) ? 0 : 1;
  b.array = ArrowArray{length, null_count, offset, static_cast<int64_t>(b.buffers.size()), 0,
                       b.buffers.data(), nullptr, nullptr, no_release, nullptr};
  return true;
}

// One array read in full and run.
void one_array(Input& in) {
  const uint8_t pick = in.byte();
  const bool dictionary = pick & 0x80;
  std::string_view format = FORMATS[(pick & 0x7F) % FORMAT_COUNT];
  ArrowSchema values_schema{FORMATS[in.byte() % FORMAT_COUNT], "v", nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr};
  ArrowSchema schema{format.data(), "x", nullptr, 0, 0, nullptr, dictionary ? &values_schema : nullptr, nullptr,
                     nullptr};
  Built b;
  if (!build(format, in, b)) return;
  if (dictionary) {
    b.dictionary = std::make_unique<Built>();
    if (!build(values_schema.format, in, *b.dictionary)) return;
    b.array.dictionary = &b.dictionary->array;
  }
  const int64_t skip = in.byte() % 8;
  const int64_t length = in.byte() % 72;
  auto view = view_array(schema, b.array, skip, length);
  if (!view.ok()) return;
  Column column;
  column.key = "x";
  column.append(std::move(*view));
  std::vector<Decimal> values(static_cast<size_t>(length) + 1);
  std::vector<Slot> slots(static_cast<size_t>(length) + 1);
  if (length > 0) read_rows(column, 0, length, values.data(), slots.data());
  for (int64_t i = 0; i < length; ++i) {
    if (slots[i] == Slot::Value && !fuzzcheck::valid(values[i])) fuzzcheck::fail("invalid value", fuzzcheck::show(values[i]));
    if (slots[i] == Slot::Invalid) (void)conversion_error(column, i);
  }
  static const Program program = *compile_str("x * 2 + 1", 15);
  const BoundColumn bound[] = {{VarId::name("x"), &column}};
  RunResult run = run_columns(program, bound, length, {std::optional<uint64_t>(20), true, 1});
  if (static_cast<int64_t>(run.rows.valid.size()) != length) fuzzcheck::fail("result length", std::to_string(length));
}

constexpr const char* NAMES[] = {"x", "y", "x"};  // a third column named as the first

// A table of up to three columns read from up to four batches.
void table_stream(Input& in) {
  const int n = 1 + in.byte() % 3;
  ArrowSchema fields[3];
  ArrowSchema* field_ptrs[3];
  for (int c = 0; c < n; ++c) {
    fields[c] = ArrowSchema{FORMATS[in.byte() % FORMAT_COUNT], NAMES[c], nullptr, 0, 0, nullptr, nullptr, nullptr,
                            nullptr};
    field_ptrs[c] = &fields[c];
  }
  const ArrowSchema table{"+s", "", nullptr, 0, n, field_ptrs, nullptr, nullptr, nullptr};
  const VarId wanted[] = {VarId::name("x"), VarId::name("y")};
  const size_t want = n >= 2 ? 2 : 1;
  auto child_of = match_columns(table, std::span<const VarId>(wanted, want));
  if (child_of.ok() == (n == 3)) fuzzcheck::fail("a column named twice", child_of.ok() ? "" : child_of.error());
  if (!child_of.ok()) return;
  for (size_t j = 0; j < want; ++j) {
    if ((*child_of)[j] < 0) fuzzcheck::fail("column not found", std::to_string(j));
  }
  std::vector<Column> columns(want);
  columns[0].key = "x";
  if (want > 1) columns[1].key = "y";
  std::vector<std::unique_ptr<Built>> kept;  // the producer's arrays stay alive while read
  const int batches = 1 + in.byte() % 4;
  for (int k = 0; k < batches; ++k) {
    auto batch = std::make_unique<Built>();
    std::vector<ArrowArray*> children;
    for (int c = 0; c < n; ++c) {
      auto child = std::make_unique<Built>();
      if (!build(fields[c].format, in, *child)) return;
      children.push_back(&child->array);
      kept.push_back(std::move(child));
    }
    const uint8_t flags = in.byte();
    const int64_t length = in.byte() % 80;
    const int64_t offset = (flags & 1) ? in.byte() % 8 : (flags & 2) ? INT64_MAX - 3 : 0;
    batch->buffers.push_back((flags & 4) ? batch->add(16, in) : nullptr);
    const int64_t null_count = (flags & 8) ? 1 : (flags & 16) ? -1 : 0;
    batch->owned.push_back(std::make_unique<uint8_t[]>(sizeof(ArrowArray*) * 3));
    auto** child_array = reinterpret_cast<ArrowArray**>(batch->owned.back().get());
    for (int c = 0; c < n; ++c) child_array[c] = children[static_cast<size_t>(c)];
    batch->array = ArrowArray{length, null_count, offset, 1, n, batch->buffers.data(), child_array, nullptr,
                              no_release, nullptr};
    const int64_t before = columns[0].length;
    if (append_batch(table, batch->array, *child_of, columns)) break;  // a malformed batch ends the stream
    for (int c = 0; c < n; ++c) {
      if (children[static_cast<size_t>(c)]->length - offset < length) fuzzcheck::fail("struct beyond its columns", "");
    }
    if (columns[0].length != before + length) fuzzcheck::fail("rows appended", std::to_string(length));
    kept.push_back(std::move(batch));
  }
  const int64_t rows = columns[0].length;
  for (const Column& c : columns) {
    if (c.length != rows) return;  // a batch refused part-way: the caller drops the columns
  }
  static const Program program = *compile_str("x * k + (y > 0 ? k : 1)", 15);
  static const Program only_x = *compile_str("x * k", 15);
  std::vector<BoundColumn> bound;
  bound.push_back({VarId::name("x"), &columns[0]});
  if (want > 1) bound.push_back({VarId::name("y"), &columns[1]});
  Decimal k = Decimal::from_parts(static_cast<uint64_t>(in.byte()) << (in.byte() % 64), in.byte() % 3,
                                  in.byte() % 29, in.byte() & 1);
  const BoundConstant constants[] = {{VarId::name("k"), k}};
  std::atomic<bool> cancel{(in.byte() & 7) == 0};
  RunOptions options{std::nullopt, true, 1u + in.byte() % 2, (in.byte() & 1) != 0};
  options.constants = constants;
  options.cancel = &cancel;
  RunResult run = run_columns(want > 1 ? program : only_x, bound, rows, options);
  if (run.cancelled != (cancel.load() && rows > 0)) fuzzcheck::fail("cancelled", std::to_string(rows));
}

// Texts: a float32's shortest text reads back as it; escaped text is kept as it is.
void texts(Input& in) {
  float f;
  in.fill(&f, sizeof f);
  char out[32];
  const std::string text(out, float_repr(f, out));
  if (std::isfinite(f) && std::strtof(text.c_str(), nullptr) != f) fuzzcheck::fail("float32 text", text);
  std::string raw(in.byte() % 16, '\0');
  in.fill(raw.data(), raw.size());
  const std::string shown = escaped_text(raw);
  if (escaped_text(shown) != shown) fuzzcheck::fail("escaped text", shown);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  one_array(in);
  table_stream(in);
  texts(in);
  return 0;
}
