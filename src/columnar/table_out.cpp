// Tables of kept columns and results, exported as Arrow struct arrays.

#include "columnar/table_out.hpp"

#include <cerrno>
#include <cstring>
#include <new>

namespace vexlor::columnar {
namespace {

struct StructSchema {
  std::vector<ArrowSchema*> children;
};

void release_struct_schema(ArrowSchema* schema) {
  auto* holder = static_cast<StructSchema*>(schema->private_data);
  for (ArrowSchema* child : holder->children) {
    if (child->release != nullptr) child->release(child);
    delete child;
  }
  delete holder;
  schema->release = nullptr;
}

struct StructArray {
  std::vector<ArrowArray> children;
  std::vector<ArrowArray*> pointers;
  const void* buffers[1] = {nullptr};
};

void release_struct_array(ArrowArray* array) {
  auto* holder = static_cast<StructArray*>(array->private_data);
  for (ArrowArray& child : holder->children) {
    if (child.release != nullptr) child.release(&child);
  }
  delete holder;
  array->release = nullptr;
}

void release_all(std::vector<ArrowArray>& arrays) {
  for (ArrowArray& a : arrays) {
    if (a.release != nullptr) a.release(&a);
  }
}

// A struct array of `length` rows owning `children` (released on failure too).
bool make_struct(std::vector<ArrowArray>& children, int64_t length, ArrowArray* out) {
  StructArray* holder = nullptr;
  try {
    holder = new StructArray;
    holder->children = std::move(children);
    for (ArrowArray& c : holder->children) holder->pointers.push_back(&c);
  } catch (const std::bad_alloc&) {
    if (holder != nullptr) {
      release_all(holder->children);
      delete holder;
    }
    release_all(children);
    return false;
  }
  *out = ArrowArray{length, 0, 0, 1, static_cast<int64_t>(holder->pointers.size()), holder->buffers,
                    holder->pointers.empty() ? nullptr : holder->pointers.data(), nullptr, release_struct_array,
                    holder};
  return true;
}

void release_kept_ref(ArrowArray* array) {
  delete static_cast<std::shared_ptr<const KeptColumns>*>(array->private_data);
  array->release = nullptr;
}

struct TableHolder {
  std::shared_ptr<const KeptColumns> kept;
  std::vector<std::shared_ptr<const Exported>> outputs;
  size_t batch = 0;
  int64_t row = 0;
  bool done = false;
};

int table_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  const TableHolder& h = *static_cast<TableHolder*>(stream->private_data);
  try {
    std::vector<int64_t> keep;
    std::vector<std::string> names;
    std::vector<ExportType> types;
    if (h.kept) {
      for (int64_t i = 0; i < h.kept->schema.n_children; ++i) keep.push_back(i);
    }
    for (const auto& e : h.outputs) {
      names.push_back(e->column->name);
      types.push_back(e->type);
    }
    ArrowSchema empty{};
    return output_schema(h.kept ? h.kept->schema : empty, keep, names, types, out) ? 0 : ENOMEM;
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
}

int table_next(ArrowArrayStream* stream, ArrowArray* out) {
  auto& h = *static_cast<TableHolder*>(stream->private_data);
  std::memset(out, 0, sizeof *out);
  const bool whole = h.kept == nullptr;
  if (h.done || (!whole && h.batch >= h.kept->batches.size())) return 0;  // the end: a released array
  const int64_t length = whole ? (h.outputs.empty() ? 0 : h.outputs[0]->column->length) : h.kept->lengths[h.batch];
  std::vector<ArrowArray> children;
  try {
    if (!whole) {
      for (const ArrowArray& stored : h.kept->batches[h.batch]) {
        ArrowArray ref = stored;
        ref.private_data = new std::shared_ptr<const KeptColumns>(h.kept);
        ref.release = release_kept_ref;
        children.push_back(ref);
      }
    }
    for (const auto& e : h.outputs) {
      children.emplace_back();
      if (!export_rows(e, h.row, length, &children.back())) throw std::bad_alloc();
    }
  } catch (const std::bad_alloc&) {
    release_all(children);
    return ENOMEM;
  }
  if (!make_struct(children, length, out)) return ENOMEM;
  h.row += length;
  ++h.batch;
  h.done = whole;
  return 0;
}

const char* table_error(ArrowArrayStream*) { return "out of memory"; }

void table_release(ArrowArrayStream* stream) {
  delete static_cast<TableHolder*>(stream->private_data);
  stream->release = nullptr;
}

}  // namespace

bool output_schema(const ArrowSchema& input, std::span<const int64_t> keep, std::span<const std::string> names,
                   std::span<const ExportType> types, ArrowSchema* out) {
  auto* holder = new (std::nothrow) StructSchema;
  if (holder == nullptr) return false;
  *out = ArrowSchema{"+s", "", nullptr, 0, 0, nullptr, nullptr, release_struct_schema, holder};
  try {
    for (const int64_t c : keep) {
      holder->children.push_back(new ArrowSchema{});
      if (!copy_schema(*input.children[c], holder->children.back())) throw std::bad_alloc();
    }
    for (size_t i = 0; i < names.size(); ++i) {
      holder->children.push_back(new ArrowSchema{});
      if (!export_field(types[i], names[i], holder->children.back())) throw std::bad_alloc();
    }
  } catch (const std::bad_alloc&) {
    release_struct_schema(out);
    return false;
  }
  out->n_children = static_cast<int64_t>(holder->children.size());
  out->children = holder->children.empty() ? nullptr : holder->children.data();
  return true;
}

Expected<bool, ScaleOverflow> output_batch(BatchResults& batch, std::span<const std::string> names,
                                           std::span<const int32_t> scales, ArrowArray* out) {
  std::vector<ArrowArray> children;
  try {
    children = std::move(batch.kept);
    batch.kept.clear();
    for (size_t i = 0; i < batch.results.size(); ++i) {
      bool out_of_memory = false;
      std::vector<RunResult> runs;
      runs.push_back(std::move(batch.results[i]));
      auto made = make_result(std::move(runs), scales[i], out_of_memory);
      if (!made.ok()) {
        release_all(children);
        ScaleOverflow o = made.error();
        o.row += batch.first_row;
        return unexpected(o);
      }
      if (out_of_memory) throw std::bad_alloc();
      made->name = names[i];
      auto column = std::make_shared<const ResultColumn>(std::move(*made));
      auto exported = prepare_export(column, ExportType{false, scales[i]});
      if (!exported.ok()) {
        release_all(children);
        ScaleOverflow o = exported.error();
        o.row += batch.first_row;
        return unexpected(o);
      }
      if (*exported == nullptr) throw std::bad_alloc();
      children.emplace_back();
      if (!export_rows(*exported, 0, column->length, &children.back())) throw std::bad_alloc();
    }
  } catch (const std::bad_alloc&) {
    release_all(children);
    return false;
  }
  return make_struct(children, batch.length, out);
}

KeptColumns::~KeptColumns() {
  for (auto& b : batches) release_all(b);
  if (schema.release != nullptr) schema.release(&schema);
}

bool export_table_stream(const std::shared_ptr<const KeptColumns>& kept,
                         std::vector<std::shared_ptr<const Exported>> outputs, ArrowArrayStream* out) {
  TableHolder* holder = nullptr;
  try {
    holder = new TableHolder{kept, std::move(outputs)};
  } catch (const std::bad_alloc&) {
    return false;
  }
  *out = ArrowArrayStream{table_schema, table_next, table_error, table_release, holder};
  return true;
}

}  // namespace vexlor::columnar
