#pragma once
// The result column: decimal128(38, S) values for Arrow, and each row's own
// scale, from which the row's value as a single evaluation gives it is found
// again.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "columnar/arrow_abi.hpp"
#include "columnar/runner.hpp"

namespace vexlor::columnar {

inline constexpr int32_t RESULT_PRECISION = 38;

struct ResultColumn {
  int32_t scale = 0;
  int64_t length = 0;
  int64_t null_count = 0;
  AlignedBuffer validity;  // empty when no row is null
  Rows rows;               // the data at `scale`; each row's own scale (at most `scale`)

  // The row's value with its own scale (valid rows only).
  Decimal value(int64_t row) const;
};

struct ScaleOverflow {
  int64_t row;
  Decimal value;
  int32_t scale;
};

// S: `scale` (0..38; each value rounded half to even to at most S places), or
// else the largest scale among the values. A value with more than 38 digits at S
// gives ScaleOverflow (the lowest such row); `out_of_memory` is set instead when
// the buffers cannot be allocated.
Expected<ResultColumn, ScaleOverflow> make_result(RunResult&& run, std::optional<int32_t> scale,
                                                  bool& out_of_memory);

// Exports the column (kept alive by the exported structs until their release).
// Both structs are filled, or on allocation failure neither, and false returned.
bool export_result(const std::shared_ptr<const ResultColumn>& column, ArrowSchema* schema, ArrowArray* array);
bool export_result_stream(const std::shared_ptr<const ResultColumn>& column, ArrowArrayStream* stream);

}  // namespace vexlor::columnar
