#pragma once
// A table read from an Arrow stream batch by batch and evaluated as it is read:
// a reader thread keeps at most `read_ahead` batches ahead of the caller, so that
// reading the next batch and evaluating this one overlap, and memory is bounded
// by the batches in flight, never by the length of the stream.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "columnar/batch.hpp"
#include "columnar/result.hpp"

namespace vexlor::columnar {

// Called between waits by the thread that asks for batches; true cancels.
using PollFn = bool (*)(void* arg);

// One batch evaluated: each output's rows and the kept columns (owned here
// until moved out).
struct BatchResults {
  int64_t first_row = 0;  // counted from the start of the stream
  int64_t length = 0;
  std::vector<RunResult> results;
  std::vector<ArrowArray> kept;
  BatchResults() = default;
  BatchResults(BatchResults&&) = default;
  BatchResults& operator=(BatchResults&&) = default;
  ~BatchResults();
};

struct StreamStatus {
  enum class Kind : uint8_t { Batch, End, RowFailed, Malformed, InputFailed, Interrupted, OutOfMemory };
  Kind kind = Kind::Batch;
  int64_t row = 0;  // RowFailed: counted from the start of the stream
  std::optional<RowError> error;
  std::string message;  // Malformed, InputFailed: what went wrong
  int code = 0;         // InputFailed: the producer's error number
};

class TableStream {
 public:
  // Takes `input` and `schema` (moved from; both released when this ends).
  // `plan` must already be bound to `schema`.
  TableStream(ArrowArrayStream& input, ArrowSchema& schema, BatchPlan plan, RunOptions options, unsigned read_ahead);
  TableStream(const TableStream&) = delete;
  TableStream& operator=(const TableStream&) = delete;
  ~TableStream();

  const ArrowSchema& schema() const { return schema_; }
  const BatchPlan& plan() const { return plan_; }
  // Also called by the runner between its blocks.
  void set_poll(PollFn poll, void* arg) {
    poll_ = poll;
    poll_arg_ = arg;
    options_.poll = poll;
    options_.poll_arg = arg;
  }

  // The next non-empty batch, evaluated. After End or a failure, every call
  // gives the same status again.
  StreamStatus next(BatchResults& out);

  // Stops the reader (waiting for a read in progress) and releases the input.
  void close();

 private:
  struct Item {
    ArrowArray batch{};  // released: the end, or an error (`code` != 0)
    int code = 0;
    std::string message;
  };
  Item read_one();
  void read_loop();
  bool take(Item& item);

  ArrowArrayStream input_{};
  ArrowSchema schema_{};
  BatchPlan plan_;
  RunOptions options_;
  unsigned read_ahead_;
  PollFn poll_ = nullptr;
  void* poll_arg_ = nullptr;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> queue_;
  bool stop_ = false;
  bool reader_started_ = false;
  bool reader_failed_ = false;
  std::thread reader_;

  int64_t next_row_ = 0;
  std::optional<StreamStatus> finished_;
};

// A stream that gives one batch (taken from `array`, moved from), for tables
// given as one struct array.
void single_batch_stream(ArrowArray& array, ArrowArrayStream* out);

// The text of a failure for a stream's consumer, e.g. "row 12: Division by zero".
std::string status_text(const StreamStatus& status);

}  // namespace vexlor::columnar
