// Exporting the result column through the Arrow C data and stream interfaces.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "columnar/result.hpp"

namespace vexlor::columnar {
namespace {

struct SchemaHolder {
  char format[16];
};

void release_schema(ArrowSchema* schema) {
  delete static_cast<SchemaHolder*>(schema->private_data);
  schema->release = nullptr;
}

struct ArrayHolder {
  std::shared_ptr<const ResultColumn> column;
  const void* buffers[2];
};

void release_array(ArrowArray* array) {
  delete static_cast<ArrayHolder*>(array->private_data);
  array->release = nullptr;
}

bool fill_schema(const ResultColumn& column, ArrowSchema* schema) {
  auto* holder = new (std::nothrow) SchemaHolder;
  if (holder == nullptr) return false;
  std::snprintf(holder->format, sizeof holder->format, "d:%d,%d", RESULT_PRECISION, column.scale);
  *schema = ArrowSchema{holder->format, "", nullptr, ARROW_FLAG_NULLABLE, 0, nullptr, nullptr, release_schema, holder};
  return true;
}

bool fill_array(const std::shared_ptr<const ResultColumn>& column, ArrowArray* array) {
  auto* holder = new (std::nothrow) ArrayHolder{column, {column->validity.data.get(), column->rows.data.data.get()}};
  if (holder == nullptr) return false;
  *array = ArrowArray{column->length, column->null_count, 0, 2, 0, holder->buffers, nullptr, nullptr, release_array,
                      holder};
  return true;
}

struct StreamHolder {
  std::shared_ptr<const ResultColumn> column;
  bool done = false;
};

int stream_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  return fill_schema(*static_cast<StreamHolder*>(stream->private_data)->column, out) ? 0 : ENOMEM;
}

int stream_next(ArrowArrayStream* stream, ArrowArray* out) {
  auto* holder = static_cast<StreamHolder*>(stream->private_data);
  if (holder->done) {
    std::memset(out, 0, sizeof *out);  // the end: a released array
    return 0;
  }
  if (!fill_array(holder->column, out)) return ENOMEM;
  holder->done = true;
  return 0;
}

const char* stream_error(ArrowArrayStream*) { return "out of memory"; }

void release_stream(ArrowArrayStream* stream) {
  delete static_cast<StreamHolder*>(stream->private_data);
  stream->release = nullptr;
}

}  // namespace

bool export_result(const std::shared_ptr<const ResultColumn>& column, ArrowSchema* schema, ArrowArray* array) {
  if (!fill_schema(*column, schema)) return false;
  if (!fill_array(column, array)) {
    schema->release(schema);
    return false;
  }
  return true;
}

bool export_result_stream(const std::shared_ptr<const ResultColumn>& column, ArrowArrayStream* stream) {
  auto* holder = new (std::nothrow) StreamHolder{column};
  if (holder == nullptr) return false;
  *stream = ArrowArrayStream{stream_schema, stream_next, stream_error, release_stream, holder};
  return true;
}

}  // namespace vexlor::columnar
