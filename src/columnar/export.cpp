// Exporting result columns through the Arrow C data and stream interfaces.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "columnar/result.hpp"

namespace vexlor::columnar {
namespace {

struct SchemaHolder {
  char format[16];
  std::string name;
};

void release_schema(ArrowSchema* schema) {
  delete static_cast<SchemaHolder*>(schema->private_data);
  schema->release = nullptr;
}

struct ArrayHolder {
  std::shared_ptr<const Exported> exported;
};

void release_array(ArrowArray* array) {
  delete static_cast<ArrayHolder*>(array->private_data);
  array->release = nullptr;
}

struct StreamHolder {
  std::shared_ptr<const Exported> exported;
  bool done = false;
};

int stream_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  const Exported& e = *static_cast<StreamHolder*>(stream->private_data)->exported;
  return export_field(e.type, e.column->name, out) ? 0 : ENOMEM;
}

int stream_next(ArrowArrayStream* stream, ArrowArray* out) {
  auto* holder = static_cast<StreamHolder*>(stream->private_data);
  if (holder->done) {
    std::memset(out, 0, sizeof *out);  // the end: a released array
    return 0;
  }
  if (!export_rows(holder->exported, 0, holder->exported->column->length, out)) return ENOMEM;
  holder->done = true;
  return 0;
}

const char* stream_error(ArrowArrayStream*) { return "out of memory"; }

void release_stream(ArrowArrayStream* stream) {
  delete static_cast<StreamHolder*>(stream->private_data);
  stream->release = nullptr;
}

}  // namespace

bool export_field(ExportType type, const std::string& name, ArrowSchema* schema) {
  auto* holder = new (std::nothrow) SchemaHolder;
  if (holder == nullptr) return false;
  try {
    holder->name = name;
  } catch (const std::bad_alloc&) {
    delete holder;
    return false;
  }
  if (type.text) std::snprintf(holder->format, sizeof holder->format, "u");
  else std::snprintf(holder->format, sizeof holder->format, "d:%d,%d", RESULT_PRECISION, type.scale);
  *schema = ArrowSchema{holder->format, holder->name.c_str(), nullptr, ARROW_FLAG_NULLABLE, 0, nullptr, nullptr,
                        release_schema, holder};
  return true;
}

bool export_rows(const std::shared_ptr<const Exported>& exported, int64_t offset, int64_t length, ArrowArray* array) {
  auto* holder = new (std::nothrow) ArrayHolder{exported};
  if (holder == nullptr) return false;
  const ResultColumn& col = *exported->column;
  const bool whole = offset == 0 && length == col.length;
  *array = ArrowArray{length, whole || col.null_count == 0 ? col.null_count : -1, offset,
                      exported->type.text ? 3 : 2, 0, const_cast<const void**>(exported->buffers), nullptr, nullptr,
                      release_array, holder};
  return true;
}

bool export_single_stream(const std::shared_ptr<const Exported>& exported, ArrowArrayStream* stream) {
  auto* holder = new (std::nothrow) StreamHolder{exported};
  if (holder == nullptr) return false;
  *stream = ArrowArrayStream{stream_schema, stream_next, stream_error, release_stream, holder};
  return true;
}

}  // namespace vexlor::columnar
