#pragma once
// The result column: decimal128(38, S) values for Arrow, and each row's own
// value for conversion back to single decimals.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "columnar/arrow_abi.hpp"
#include "columnar/runner.hpp"

namespace vexlor::columnar {

inline constexpr int32_t RESULT_PRECISION = 38;

struct AlignedBuffer {
  struct Free {
    void operator()(void* p) const { std::free(p); }
  };
  std::unique_ptr<void, Free> data;
  // Zeroed room for `bytes` (rounded up to 64), or false when out of memory.
  bool allocate(size_t bytes);
};

struct ResultColumn {
  int32_t scale = 0;
  int64_t length = 0;
  int64_t null_count = 0;
  AlignedBuffer validity;  // empty when no row is null
  AlignedBuffer data;      // 16 bytes per row, little-endian two's complement
  std::vector<Decimal> values;
  std::vector<uint8_t> valid;
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
