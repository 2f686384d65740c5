// Reading a table stream ahead of its evaluation.

#include "columnar/stream.hpp"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace vexlor::columnar {

BatchResults::~BatchResults() {
  for (ArrowArray& a : kept) {
    if (a.release != nullptr) a.release(&a);
  }
}

TableStream::TableStream(ArrowArrayStream& input, ArrowSchema& schema, BatchPlan plan, RunOptions options,
                         unsigned read_ahead)
    : input_(input), schema_(schema), plan_(std::move(plan)), options_(options), read_ahead_(read_ahead) {
  input.release = nullptr;
  schema.release = nullptr;
}

TableStream::~TableStream() { close(); }

TableStream::Item TableStream::read_one() {
  Item item;
  const int code = input_.get_next(&input_, &item.batch);
  if (code == 0) return item;
  if (item.batch.release != nullptr) item.batch.release(&item.batch);
  item.batch.release = nullptr;
  item.code = code;
  const char* text = input_.get_last_error != nullptr ? input_.get_last_error(&input_) : nullptr;
  if (text != nullptr) item.message = escaped_text(text);
  return item;
}

void TableStream::read_loop() {
  try {
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stop_ || queue_.size() < read_ahead_; });
        if (stop_) return;
      }
      Item item = read_one();
      if (item.batch.release != nullptr && item.batch.length == 0) {
        item.batch.release(&item.batch);  // nothing to evaluate: released at once
        continue;
      }
      const bool last = item.batch.release == nullptr;
      {
        std::lock_guard lock(mutex_);
        if (stop_) {
          if (item.batch.release != nullptr) item.batch.release(&item.batch);
          return;
        }
        queue_.push_back(std::move(item));
      }
      changed_.notify_all();
      if (last) return;
    }
  } catch (const std::bad_alloc&) {  // no memory for the queue: the consumer sees the stream fail
    {
      std::lock_guard lock(mutex_);
      reader_failed_ = true;
    }
    changed_.notify_all();
  }
}

// False when cancelled by the poll.
bool TableStream::take(Item& item) {
  if (read_ahead_ == 0) {
    for (;;) {
      item = read_one();
      if (item.batch.release == nullptr || item.batch.length > 0) return true;
      item.batch.release(&item.batch);
      if (poll_ != nullptr && poll_(poll_arg_)) return false;
    }
  }
  if (!reader_started_) {
    reader_ = std::thread([this] { read_loop(); });  // may throw: the caller reports out of memory
    reader_started_ = true;
  }
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      if (queue_.empty()) changed_.wait_for(lock, std::chrono::milliseconds(20));
      if (queue_.empty() && reader_failed_) {
        item = Item{};
        item.code = ENOMEM;
        return true;
      }
      if (!queue_.empty()) {
        item = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        changed_.notify_all();
        return true;
      }
    }
    if (poll_ != nullptr && poll_(poll_arg_)) return false;  // with no lock held: it may run Python code
  }
}

StreamStatus TableStream::next(BatchResults& out) {
  using Kind = StreamStatus::Kind;
  if (finished_) return *finished_;
  StreamStatus status;
  Item item;
  try {
    if (!take(item)) {
      status.kind = Kind::Interrupted;
      finished_ = status;
      return status;
    }
  } catch (const std::exception&) {  // no memory, or no thread for the reader
    status.kind = Kind::OutOfMemory;
    finished_ = status;
    return status;
  }
  if (item.code != 0) {
    status.kind = Kind::InputFailed;
    status.code = item.code;
    status.message = std::move(item.message);
    finished_ = status;
    return status;
  }
  if (item.batch.release == nullptr) {
    status.kind = Kind::End;
    finished_ = status;
    return status;
  }
  ArrowArray& batch = item.batch;
  const int64_t length = batch.length;
  if (length < 0 || length > MAX_ROWS - next_row_) {
    batch.release(&batch);
    status.kind = Kind::Malformed;
    status.message = "a table of more than " + std::to_string(MAX_ROWS) + " rows, or a batch of negative length";
    finished_ = status;
    return status;
  }
  BatchRun run = run_batch(plan_, schema_, batch, options_);
  std::optional<std::string> malformed = std::move(run.malformed);
  out.kept.clear();
  if (!malformed) {
    for (size_t i = 0; i < run.results.size(); ++i) {
      RunResult& r = run.results[i];
      if (r.out_of_memory) {
        status.kind = Kind::OutOfMemory;
      } else if (r.cancelled) {
        if (status.kind != Kind::OutOfMemory) status.kind = Kind::Interrupted;
      } else if (r.failure && !options_.errors_to_null && status.kind != Kind::OutOfMemory &&
                 status.kind != Kind::Interrupted &&
                 (status.kind != Kind::RowFailed || next_row_ + r.failure->first < status.row)) {
        status.kind = Kind::RowFailed;
        status.row = next_row_ + r.failure->first;
        status.error = r.failure->second;
      }
    }
    if (status.kind == Kind::Batch) malformed = take_kept(plan_, batch, out.kept);
  }
  batch.release(&batch);
  if (malformed) {
    status.kind = Kind::Malformed;
    status.message = "the batch from row " + std::to_string(next_row_) + ": " + *malformed;
  }
  if (status.kind != Kind::Batch) {
    finished_ = status;
    return status;
  }
  out.first_row = next_row_;
  out.length = length;
  out.results = std::move(run.results);
  next_row_ += out.length;
  return status;
}

void TableStream::close() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (reader_.joinable()) reader_.join();
  for (Item& item : queue_) {
    if (item.batch.release != nullptr) item.batch.release(&item.batch);
  }
  queue_.clear();
  if (input_.release != nullptr) input_.release(&input_);
  if (schema_.release != nullptr) schema_.release(&schema_);
}

namespace {

int single_schema(ArrowArrayStream*, ArrowSchema*) { return EINVAL; }

int single_next(ArrowArrayStream* stream, ArrowArray* out) {
  auto* array = static_cast<ArrowArray*>(stream->private_data);
  *out = *array;  // the array itself, then the end (a released array)
  array->release = nullptr;
  return 0;
}

const char* single_error(ArrowArrayStream*) { return ""; }

void single_release(ArrowArrayStream* stream) {
  auto* array = static_cast<ArrowArray*>(stream->private_data);
  if (array->release != nullptr) array->release(array);
  delete array;
  stream->release = nullptr;
}

}  // namespace

void single_batch_stream(ArrowArray& array, ArrowArrayStream* out) {
  auto* held = new ArrowArray(array);
  array.release = nullptr;
  *out = ArrowArrayStream{single_schema, single_next, single_error, single_release, held};
}

std::string status_text(const StreamStatus& s) {
  using Kind = StreamStatus::Kind;
  switch (s.kind) {
    case Kind::RowFailed: {
      const RowError& e = *s.error;
      return "row " + std::to_string(s.row) + ": " + (e.kind == RowError::Kind::Vm ? e.vm->to_string() : e.message);
    }
    case Kind::Malformed: return s.message;
    case Kind::InputFailed:
      return "the input stream failed (error " + std::to_string(s.code) + ")" + (s.message.empty() ? "" : ": ") +
             s.message;
    case Kind::Interrupted: return "interrupted (KeyboardInterrupt)";
    case Kind::OutOfMemory: return "out of memory";
    default: return "";
  }
}

}  // namespace vexlor::columnar
