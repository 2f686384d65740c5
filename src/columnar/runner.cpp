// The per-block runner and its threads.

#include "columnar/runner.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "columnar/read.hpp"
#include "vm/vm.hpp"

namespace vexlor::columnar {
namespace {

struct Shared {
  Shared(const Program& p, std::span<const BoundColumn> c, int64_t n, const RunOptions& o, RunResult& r)
      : program(p), columns(c), rows(n), options(o), result(r) {}
  const Program& program;
  std::span<const BoundColumn> columns;
  int64_t rows;
  const RunOptions& options;
  RunResult& result;
  std::atomic<int64_t> next_block{0};
  std::atomic<int64_t> failed_row{INT64_MAX};  // lowest failing row so far (raise mode)
  std::mutex failure_mutex;
  std::atomic<bool> out_of_memory{false};
};

// One thread's scratch: a block of values and slots per column, and a context
// holding every variable, whose values are overwritten row by row.
class Worker {
 public:
  explicit Worker(Shared& shared) : s_(shared) {
    const size_t n = s_.columns.size();
    values_.resize(n * BLOCK_ROWS);
    slots_.resize(n * BLOCK_ROWS);
    for (const BoundColumn& c : s_.columns) context_.variables.insert_or_assign(c.var, Decimal());
    for (const BoundColumn& c : s_.columns) {
      // The map is this worker's own; its entries stay in place once inserted.
      targets_.push_back(const_cast<Decimal*>(context_.variables.find(c.var)));
    }
  }

  void run() {
    for (;;) {
      const int64_t block = s_.next_block.fetch_add(1, std::memory_order_relaxed);
      const int64_t first = block * BLOCK_ROWS;
      if (first >= s_.rows) return;
      if (!s_.options.errors_to_null && first > s_.failed_row.load(std::memory_order_relaxed)) return;
      run_block(first, std::min(BLOCK_ROWS, s_.rows - first));
    }
  }

 private:
  void run_block(int64_t first, int64_t count) {
    const size_t n = s_.columns.size();
    for (size_t j = 0; j < n; ++j) {
      read_rows(*s_.columns[j].column, first, count, &values_[j * BLOCK_ROWS], &slots_[j * BLOCK_ROWS]);
    }
    Decimal* out = s_.result.values.data() + first;
    uint8_t* valid = s_.result.valid.data() + first;
    for (int64_t k = 0; k < count; ++k) {
      bool has_null = false;
      std::optional<RowError> error;
      for (size_t j = 0; j < n; ++j) {
        const Slot slot = slots_[j * BLOCK_ROWS + k];
        if (slot == Slot::Invalid) {
          error = conversion_error(*s_.columns[j].column, first + k);
          break;
        }
        has_null |= slot == Slot::Null;
        *targets_[j] = values_[j * BLOCK_ROWS + k];
      }
      if (!error) {
        auto r = has_null ? run_with_nulls(k) : vexlor::run(s_.program, context_, s_.options.gas);
        if (r.ok()) {
          out[k] = *r;
          valid[k] = 1;
          continue;
        }
        if (!is_null_read(r.error(), k)) error = RowError{RowError::Kind::Vm, std::move(r).error(), {}};
      }
      valid[k] = 0;
      if (error && !s_.options.errors_to_null) {
        fail(first + k, std::move(*error));
        return;
      }
    }
  }

  // A row with nulls runs against a context without them.
  Expected<Decimal, VmError> run_with_nulls(int64_t k) {
    VmContext context;
    for (size_t j = 0; j < s_.columns.size(); ++j) {
      if (slots_[j * BLOCK_ROWS + k] == Slot::Value) {
        context.variables.insert_or_assign(s_.columns[j].var, values_[j * BLOCK_ROWS + k]);
      }
    }
    return vexlor::run(s_.program, context, s_.options.gas);
  }

  bool is_null_read(const VmError& e, int64_t k) const {
    if (e.kind() != VmError::Kind::VariableNotFound) return false;
    for (size_t j = 0; j < s_.columns.size(); ++j) {
      if (slots_[j * BLOCK_ROWS + k] == Slot::Null && s_.columns[j].column->key == e.name()) return true;
    }
    return false;
  }

  void fail(int64_t row, RowError error) {
    std::lock_guard lock(s_.failure_mutex);
    if (row < s_.failed_row.load(std::memory_order_relaxed)) {
      s_.failed_row.store(row, std::memory_order_relaxed);
      s_.result.failure.emplace(row, std::move(error));
    }
  }

  Shared& s_;
  std::vector<Decimal> values_;
  std::vector<Slot> slots_;
  VmContext context_;
  std::vector<Decimal*> targets_;
};

void work(Shared& shared) {
  try {
    Worker(shared).run();
  } catch (const std::bad_alloc&) {
    shared.out_of_memory = true;
    shared.failed_row = -1;  // stops the other threads
    shared.next_block = INT64_MAX / BLOCK_ROWS;
  }
}

}  // namespace

RunResult run_columns(const Program& program, std::span<const BoundColumn> columns, int64_t rows,
                      const RunOptions& options) {
  RunResult result;
  try {
    result.values.resize(static_cast<size_t>(rows));
    result.valid.assign(static_cast<size_t>(rows), 0);
  } catch (const std::bad_alloc&) {
    result.out_of_memory = true;
    return result;
  }
  Shared shared{program, columns, rows, options, result};
  const int64_t blocks = (rows + BLOCK_ROWS - 1) / BLOCK_ROWS;
  const auto threads = static_cast<unsigned>(std::clamp<int64_t>(options.threads, 1, std::max<int64_t>(blocks, 1)));
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) {
    try {
      pool.emplace_back(work, std::ref(shared));
    } catch (const std::system_error&) {
      break;  // fewer threads: the same results
    } catch (const std::bad_alloc&) {
      break;
    }
  }
  work(shared);
  for (std::thread& t : pool) t.join();
  result.out_of_memory = shared.out_of_memory.load();
  if (!result.failure || options.errors_to_null) {
    result.null_count = static_cast<int64_t>(std::count(result.valid.begin(), result.valid.end(), uint8_t{0}));
  }
  return result;
}

}  // namespace vexlor::columnar
