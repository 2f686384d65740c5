// The per-block runner and its threads.

#include "columnar/runner.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <atomic>
#include <mutex>
#include <new>
#include <thread>

#include "columnar/fast.hpp"
#include "columnar/pool.hpp"
#include "columnar/read.hpp"
#include "vm/vm.hpp"

namespace vexlor::columnar {
namespace {

struct Shared {
  Shared(const Program& p, std::span<const BoundColumn> c, int64_t n, const RunOptions& o, RunResult& r)
      : program(p), columns(c), rows(n), options(o), result(r) {}
  const Program& program;
  std::optional<fast::Plan> plan;
  std::span<const BoundColumn> columns;
  int64_t rows;
  const RunOptions& options;
  RunResult& result;
  std::atomic<int64_t> next_block{0};
  std::atomic<int64_t> failed_row{INT64_MAX};  // lowest failing row so far (raise mode)
  std::mutex failure_mutex;
  std::atomic<bool> out_of_memory{false};
  // The constants that the vectorised path reads, as lanes after the columns'.
  std::vector<int64_t> constant_values;
  std::vector<fast::Lanes> constant_lanes;
  const std::thread::id caller = std::this_thread::get_id();  // the thread that polls
  std::atomic<bool> stop{false};       // set when poll asked to cancel
  std::atomic<bool> cancelled{false};  // some work was left undone for it
};

// One thread's scratch: a block of values and slots per column, and a context
// holding every variable, whose values are overwritten row by row.
class Worker {
 public:
  explicit Worker(Shared& shared)
      : s_(shared), polls_(shared.options.poll != nullptr && std::this_thread::get_id() == shared.caller) {
    if (s_.plan) {
      machine_.emplace(*s_.plan);
      lanes_.resize(s_.columns.size() * BLOCK_ROWS);
    }
  }

  void run() {
    for (;;) {
      const int64_t block = s_.next_block.fetch_add(1, std::memory_order_relaxed);
      const int64_t first = block * BLOCK_ROWS;
      if (first >= s_.rows) break;
      if (!s_.options.errors_to_null && first > s_.failed_row.load(std::memory_order_relaxed)) break;
      if (stopped()) break;
      const int64_t count = std::min(BLOCK_ROWS, s_.rows - first);
      run_block(first, count);
      tally(first, count);
    }
    std::lock_guard lock(s_.failure_mutex);
    RunResult& r = s_.result;
    r.null_count += nulls_;
    r.least_scale = std::min(r.least_scale, least_);
    r.most_scale = std::max(r.most_scale, most_);
  }

 private:
  // True (and the run marked cancelled) once the run is to stop.
  bool stopped() {
    const RunOptions& o = s_.options;
    bool stop = s_.stop.load(std::memory_order_relaxed) || (o.cancel != nullptr && o.cancel->load(std::memory_order_relaxed));
    if (!stop && polls_ && o.poll(o.poll_arg)) {
      stop = true;
      s_.stop.store(true, std::memory_order_relaxed);
    }
    if (stop) s_.cancelled.store(true, std::memory_order_relaxed);
    return stop;
  }

  // The nulls and the range of scales of a block's results, for the result
  // column (counted here, on every thread, rather than after the run).
  void tally(int64_t first, int64_t count) {
    const uint8_t* valid = s_.result.rows.valid.data() + first;
    const uint8_t* own = s_.result.rows.scale.data() + first;
    int64_t values = 0;
    uint8_t least = least_, most = most_;
    for (int64_t k = 0; k < count; ++k) {
      const uint8_t keep = static_cast<uint8_t>(0 - valid[k]);
      const uint8_t s = own[k] & static_cast<uint8_t>(~NEGATIVE_ZERO);
      values += valid[k];
      most = std::max<uint8_t>(most, s & keep);
      least = std::min<uint8_t>(least, static_cast<uint8_t>(s | static_cast<uint8_t>(~keep & 0x7F)));
    }
    nulls_ += count - values;
    least_ = least;
    most_ = most;
  }

  void run_block(int64_t first, int64_t count) {
    uint8_t* valid = s_.result.rows.valid.data() + first;
    if (machine_ && run_fast(first, count, valid)) return;
    read_block(first, count);
    for (int64_t k = 0; k < count; ++k) {
      if (!run_row(first, k, valid)) return;
    }
  }

  // The block on the vectorised path; rows it leaves go through run_row. False
  // when the block's columns cannot be loaded for it.
  bool run_fast(int64_t first, int64_t count, uint8_t* valid) {
    const size_t n = s_.columns.size();
    for (size_t j = 0; j < n; ++j) {
      if (!fast::loadable(*s_.columns[j].column, first, count)) return false;
    }
    std::memset(slow_, 0, static_cast<size_t>(count));
    lane_views_.clear();
    for (size_t j = 0; j < n; ++j) {
      int64_t* lanes = &lanes_[j * BLOCK_ROWS];
      lane_views_.push_back(fast::load_lanes(*s_.columns[j].column, first, count, lanes, slow_));
    }
    lane_views_.insert(lane_views_.end(), s_.constant_lanes.begin(), s_.constant_lanes.end());
    machine_->run(lane_views_, count, s_.result.rows, first, slow_);
    uint8_t any_slow = 0;  // slow_ holds 0 or 1
    for (int64_t k = 0; k < count; ++k) {
      valid[k] = static_cast<uint8_t>(slow_[k] ^ 1);
      any_slow |= slow_[k];
    }
    if (any_slow == 0) return true;
    read_block(first, count);
    for (int64_t k = 0; k < count; ++k) {
      if (slow_[k] && !run_row(first, k, valid)) return true;
    }
    return true;
  }

  // The block's values as single rows read them. The scratch for them is made
  // on first use: blocks on the vectorised path seldom need it.
  void read_block(int64_t first, int64_t count) {
    const size_t n = s_.columns.size();
    if (values_.empty()) {
      values_.resize(n * BLOCK_ROWS);
      slots_.resize(n * BLOCK_ROWS);
      for (const BoundConstant& c : s_.options.constants) context_.variables.insert_or_assign(c.var, c.value);
      for (const BoundColumn& c : s_.columns) context_.variables.insert_or_assign(c.var, Decimal());
      for (const BoundColumn& c : s_.columns) {
        // The map is this worker's own; its entries stay in place once inserted.
        targets_.push_back(const_cast<Decimal*>(context_.variables.find(c.var)));
      }
    }
    for (size_t j = 0; j < n; ++j) {
      read_rows(*s_.columns[j].column, first, count, &values_[j * BLOCK_ROWS], &slots_[j * BLOCK_ROWS]);
    }
  }

  // Row `k` of the block on its own; false when it failed and ends the run.
  bool run_row(int64_t first, int64_t k, uint8_t* valid) {
    // Rows on this path may be slow (up to a loop's work budget each): the
    // calling thread polls between them too.
    if (polls_ && (++rows_run_ & 15) == 0 && stopped()) return false;
    const size_t n = s_.columns.size();
    {
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
          s_.result.rows.store(first + k, *r);
          valid[k] = 1;
          return true;
        }
        if (!is_null_read(r.error(), k)) error = RowError{RowError::Kind::Vm, std::move(r).error(), {}};
      }
      valid[k] = 0;
      if (error && !s_.options.errors_to_null) {
        fail(first + k, std::move(*error));
        return false;
      }
    }
    return true;
  }

  // A row with nulls runs against a context without them.
  Expected<Decimal, VmError> run_with_nulls(int64_t k) {
    VmContext context;
    for (const BoundConstant& c : s_.options.constants) context.variables.insert_or_assign(c.var, c.value);
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
  const bool polls_;
  unsigned rows_run_ = 0;
  std::vector<Decimal> values_;
  std::vector<Slot> slots_;
  VmContext context_;
  std::vector<Decimal*> targets_;
  std::optional<fast::Machine> machine_;
  std::vector<int64_t, Uncleared<int64_t>> lanes_;  // written before read, block by block
  std::vector<fast::Lanes> lane_views_;
  uint8_t slow_[BLOCK_ROWS];
  int64_t nulls_ = 0;
  uint8_t least_ = 0x7F, most_ = 0;
};

void work(Shared& shared) {
  if (shared.next_block.load(std::memory_order_relaxed) * BLOCK_ROWS >= shared.rows) return;  // joined late
  try {
    Worker(shared).run();
  } catch (...) {  // an exception leaving a thread would end the process
    shared.out_of_memory = true;
    shared.failed_row = -1;  // stops the other threads
    shared.next_block = (shared.rows + BLOCK_ROWS - 1) / BLOCK_ROWS;  // past the last block
  }
}

// Each constant the vectorised path can hold (a 64-bit coefficient, not a
// negative zero) as a block of equal lanes, its variable appended to `vars`.
// A program that reads any other constant gets no plan.
void add_constant_lanes(Shared& shared, std::vector<VarId>& vars) {
  std::vector<const BoundConstant*> held;
  for (const BoundConstant& c : shared.options.constants) {
    const Decimal& d = c.value;
    if (d.hi() == 0 && d.lo() <= static_cast<uint64_t>(INT64_MAX) && !(d.is_zero() && d.is_sign_negative())) {
      held.push_back(&c);
    }
  }
  shared.constant_values.resize(held.size() * BLOCK_ROWS);
  for (size_t j = 0; j < held.size(); ++j) {
    const Decimal& d = held[j]->value;
    const auto magnitude = static_cast<int64_t>(d.lo());
    int64_t* lanes = &shared.constant_values[j * BLOCK_ROWS];
    std::fill(lanes, lanes + BLOCK_ROWS, d.is_sign_negative() ? -magnitude : magnitude);
    shared.constant_lanes.push_back({lanes, static_cast<int32_t>(d.scale()), d.lo(), d.lo()});
    vars.push_back(held[j]->var);
  }
}

}  // namespace

RunResult run_columns(const Program& program, std::span<const BoundColumn> columns, int64_t rows,
                      const RunOptions& options) {
  RunResult result;
  result.length = rows;
  if (static_cast<uint64_t>(rows) > SIZE_MAX / 16) {  // a 32-bit address space
    result.out_of_memory = true;
    return result;
  }
  try {
    result.rows.scale.resize(static_cast<size_t>(rows));
    result.rows.valid.resize(static_cast<size_t>(rows));
  } catch (const std::bad_alloc&) {
    result.out_of_memory = true;
    return result;
  }
  if (!result.rows.data.allocate(16 * static_cast<size_t>(rows))) {
    result.out_of_memory = true;
    return result;
  }
  Shared shared{program, columns, rows, options, result};
  if (options.vectorised) {
    try {
      std::vector<VarId> vars;
      for (const BoundColumn& c : columns) vars.push_back(c.var);
      add_constant_lanes(shared, vars);
      shared.plan = fast::make_plan(program, vars, options.gas);
    } catch (const std::bad_alloc&) {
      result.out_of_memory = true;
      return result;
    }
  }
  const int64_t blocks = (rows + BLOCK_ROWS - 1) / BLOCK_ROWS;
  const auto threads = static_cast<unsigned>(std::clamp<int64_t>(options.threads, 1, std::max<int64_t>(blocks, 1)));
  run_shared(threads - 1, [](void* s) { work(*static_cast<Shared*>(s)); }, &shared);
  result.out_of_memory = shared.out_of_memory.load();
  result.cancelled = shared.cancelled.load();
  return result;
}

}  // namespace vexlor::columnar
