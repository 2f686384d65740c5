#pragma once
// Columns read through the Arrow C data interface: the types a column may have,
// and validated views of the arrays that hold its values. A view refers to the
// producer's buffers and never owns them; whoever made the ArrowArray keeps it
// alive (unreleased) for as long as its views are used.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "columnar/arrow_abi.hpp"
#include "decimal/decimal.hpp"
#include "util/expected.hpp"
#include "vm/errors.hpp"

namespace vexlor::columnar {

enum class ValueType : uint8_t {
  Null,
  Bool,
  Int8,
  Int16,
  Int32,
  Int64,
  UInt8,
  UInt16,
  UInt32,
  UInt64,
  Float32,
  Float64,
  Decimal,  // decimal32/64/128: `decimal_bytes` wide, with `scale`
  Utf8,
  LargeUtf8,
  Utf8View,
  Prepared,  // values converted beforehand (see PreparedValues)
};

struct ColumnType {
  ValueType type = ValueType::Null;
  uint8_t decimal_bytes = 0;
  int32_t scale = 0;
  // Dictionary-encoded: `type` is the type of the values, `index` the integer type of the indices.
  bool dictionary = false;
  ValueType index = ValueType::Null;
};

// Reads an Arrow format string ("l", "d:18,2", "d:9,2,32", "u", "vu", ...). A
// dictionary-encoded column gives its index format here and its value format in
// `dictionary_format`. The error names what is not supported.
Expected<ColumnType, std::string> parse_format(std::string_view format, const char* dictionary_format);
// The type as text for messages, e.g. "decimal128(18, 2)".
std::string type_name(std::string_view format);
// A producer's text (a format string, an error message, a name) for a message:
// valid UTF-8 kept, every other byte written as \xNN.
std::string escaped_text(std::string_view text);

// Why a row's value could not be read, or why its evaluation failed: the error
// class and message that evaluating the row alone would raise.
struct RowError {
  enum class Kind : uint8_t { Vm, Value, Type };
  Kind kind = Kind::Vm;
  std::optional<VmError> vm;  // Kind::Vm
  std::string message;        // Value, Type
};

// Values a caller converted itself (from objects that are not Arrow arrays):
// one Decimal per row, and per row a state (0: value, 1: null, 2: conversion
// failed, its error in `errors`, ordered by row).
struct PreparedValues {
  std::vector<Decimal> values;
  std::vector<uint8_t> state;
  std::vector<std::pair<int64_t, RowError>> errors;
};

// The most rows an array, a column or a table may have: row and offset sums stay
// far from overflowing below it.
inline constexpr int64_t MAX_ROWS = INT64_MAX / 2;

// One validated array: rows [0, length) of the view are rows [offset, offset +
// length) of the producer's buffers.
struct ArrayView {
  ValueType type = ValueType::Null;
  uint8_t decimal_bytes = 0;
  int32_t scale = 0;
  int64_t length = 0;
  int64_t offset = 0;
  const uint8_t* validity = nullptr;  // nullptr: no nulls
  const void* values = nullptr;       // values, offsets (Utf8, LargeUtf8) or views (Utf8View)
  const char* data = nullptr;         // characters (Utf8, LargeUtf8)
  const char* const* variadic = nullptr;  // character buffers (Utf8View)
  int64_t variadic_count = 0;
  std::shared_ptr<const ArrayView> dictionary;  // the values, when `values` holds indices of type `index`
  ValueType index = ValueType::Null;
  const PreparedValues* prepared = nullptr;

  bool is_null(int64_t row) const {
    const int64_t i = offset + row;
    return validity != nullptr && ((validity[i >> 3] >> (i & 7)) & 1) == 0;
  }
};

// Checks `array` against `schema` and the Arrow layout rules that can be checked
// without knowing the buffers' sizes (buffer counts, offsets in order, view and
// dictionary references in range), and views rows [skip, skip + length) of it.
// Columns of a struct array pass the struct's offset as `skip`.
Expected<ArrayView, std::string> view_array(const ArrowSchema& schema, const ArrowArray& array, int64_t skip,
                                            int64_t length);

// The dictionary index at position `i` of an index buffer (-1 for a uint64 above INT64_MAX).
int64_t index_at(ValueType index_type, const void* indices, int64_t i);

// A column: the chunks of its rows, in order.
struct Column {
  std::string key;  // the variable's display text, for messages
  std::vector<ArrayView> chunks;
  std::vector<int64_t> starts;  // first row of each chunk
  int64_t length = 0;

  bool can_take(int64_t rows) const { return rows <= MAX_ROWS - length; }
  void append(ArrayView view) {
    starts.push_back(length);
    length += view.length;
    chunks.push_back(std::move(view));
  }
  size_t chunk_of(int64_t row) const;  // the chunk holding `row` (< length)

  // Calls visit(chunk, at, take, done) for each chunk's part of rows
  // [row, row + count): `take` rows from the chunk's row `at`, after `done` rows.
  template <class Visit>
  void for_each_part(int64_t row, int64_t count, Visit visit) const {
    int64_t done = 0;
    for (size_t c = chunk_of(row); done < count; ++c) {
      const int64_t at = row + done - starts[c];
      const int64_t take = std::min(count - done, chunks[c].length - at);
      visit(chunks[c], at, take, done);
      done += take;
    }
  }
};

}  // namespace vexlor::columnar
