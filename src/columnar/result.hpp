#pragma once
// The result column: each row's exact value (its coefficient at its own scale),
// and its export as decimal128(38, S) or as the text of each value.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "columnar/arrow_abi.hpp"
#include "columnar/runner.hpp"

namespace vexlor::columnar {

inline constexpr int32_t RESULT_PRECISION = 38;

struct ResultColumn {
  std::string name = "result";
  std::optional<int32_t> fixed_scale;  // the scale asked for: rows rounded to at most it
  int64_t length = 0;
  int64_t null_count = 0;
  Rows rows;  // each row's coefficient at the row's own scale
  uint8_t least_scale = 0x7F, most_scale = 0;

  // The row's value with its own scale (valid rows only).
  Decimal value(int64_t row) const;
  bool valid(int64_t row) const { return rows.valid[static_cast<size_t>(row)] != 0; }
  // The scale of the default export: the one asked for, else the largest row scale.
  int32_t scale() const { return fixed_scale.value_or(most_scale); }
};

struct ScaleOverflow {
  int64_t row;
  Decimal value;
  int32_t scale;
};

// The column of the runs of consecutive batches (moved from). With `scale`
// (0..38) each value is rounded half to even to at most S places, and a value
// with more than 38 digits at S gives ScaleOverflow (the lowest such row).
// `out_of_memory` is set instead when the buffers cannot be allocated.
Expected<ResultColumn, ScaleOverflow> make_result(std::vector<RunResult>&& runs, std::optional<int32_t> scale,
                                                  bool& out_of_memory);

// How a column is exported: decimal128(38, scale), or utf8 with each value's text.
struct ExportType {
  bool text = false;
  int32_t scale = 0;
};

// The buffers of one export, shared by every array made from it.
struct Exported {
  std::shared_ptr<const ResultColumn> column;
  ExportType type;
  AlignedBuffer validity, data, chars;  // `data`: values, or offsets of text
  const void* buffers[3] = {nullptr, nullptr, nullptr};
};

// Makes the buffers of `column` as `type`: ScaleOverflow when a value does not
// fit decimal128(38, S) (values with more places are rounded half to even);
// nullptr on allocation failure.
Expected<std::shared_ptr<const Exported>, ScaleOverflow> prepare_export(
    const std::shared_ptr<const ResultColumn>& column, ExportType type);

// The field (named `name`) and rows [offset, offset + length) of an export.
// False on allocation failure, with nothing filled.
bool export_field(ExportType type, const std::string& name, ArrowSchema* schema);
bool export_rows(const std::shared_ptr<const Exported>& exported, int64_t offset, int64_t length, ArrowArray* array);

// A stream of one array: the whole export.
bool export_single_stream(const std::shared_ptr<const Exported>& exported, ArrowArrayStream* stream);

}  // namespace vexlor::columnar
