#pragma once
// Runs one program over every row of a set of columns, block by block, on a
// number of threads. Each row is evaluated exactly as a single evaluation with
// that row's values would be (same results, errors and gas); a null value that
// the row's evaluation reads makes its result null.

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "columnar/column.hpp"
#include "columnar/rows.hpp"
#include "compiler/bytecode.hpp"

namespace vexlor::columnar {

inline constexpr int64_t BLOCK_ROWS = 1024;

struct BoundColumn {
  VarId var;
  const Column* column;
};

// A variable with one value for every row, read as a column's value would be.
struct BoundConstant {
  VarId var;
  Decimal value;
};

struct RunOptions {
  std::optional<uint64_t> gas;
  bool errors_to_null = false;  // else the lowest failing row ends the run
  unsigned threads = 1;
  bool vectorised = true;  // false: every row on the single-row path
  std::span<const BoundConstant> constants = {};  // variables without a column
  // Once true, every thread stops before its next block, and a row that loops
  // stops at its next backward jump.
  const std::atomic<bool>* cancel = nullptr;
  // Called by the calling thread between its blocks (and now and then between
  // the rows of a block on the single-row path); true cancels the run. Rows in
  // progress on other threads stop at their next block, or at once when poll
  // also sets *cancel.
  bool (*poll)(void* arg) = nullptr;
  void* poll_arg = nullptr;
};

struct RunResult {
  Rows rows;  // valid 0: null (or failed, with errors_to_null)
  int64_t length = 0;
  int64_t null_count = 0;
  uint8_t least_scale = 0x7F, most_scale = 0;  // among the values (NEGATIVE_ZERO cleared)
  std::optional<std::pair<int64_t, RowError>> failure;  // the lowest failing row
  bool out_of_memory = false;
  bool cancelled = false;  // stopped early through cancel or poll: rows are incomplete
};

// `columns`: one per variable of the program, ordered by the variables' display
// texts (a row whose values cannot be read reports the first such column), all
// of length `rows`. Threads beyond one are started for the call.
RunResult run_columns(const Program& program, std::span<const BoundColumn> columns, int64_t rows,
                      const RunOptions& options);

}  // namespace vexlor::columnar
