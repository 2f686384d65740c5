// Tables: struct arrays of columns.

#include "columnar/table.hpp"

#include <cstring>

namespace vexlor::columnar {

VarId column_key(std::string_view name) {
  UuidBytes bytes;
  if (try_parse_uuid(name, bytes)) return VarId::uuid(bytes);
  return VarId::name(name);
}

Expected<std::vector<int64_t>, std::string> match_columns(const ArrowSchema& schema, std::span<const VarId> wanted) {
  if (schema.format == nullptr || std::strcmp(schema.format, "+s") != 0) {
    return unexpected(std::string("a table must be a struct of columns, not ") +
                      (schema.format == nullptr ? std::string("a schema without a format")
                                                : type_name(schema.format)));
  }
  if (schema.n_children < 0 || (schema.n_children > 0 && schema.children == nullptr)) {
    return unexpected(std::string("struct schema without its children"));
  }
  std::vector<int64_t> child_of(wanted.size(), -1);
  for (int64_t i = 0; i < schema.n_children; ++i) {
    const ArrowSchema* child = schema.children[i];
    if (child == nullptr) return unexpected(std::string("struct schema with a missing child"));
    if (child->name == nullptr) continue;
    const VarId key = column_key(child->name);
    for (size_t j = 0; j < wanted.size(); ++j) {
      if (wanted[j] != key) continue;
      if (child_of[j] >= 0) {
        return unexpected("duplicate column '" + wanted[j].display() + "': the table has more than one");
      }
      child_of[j] = i;
    }
  }
  return child_of;
}

std::optional<std::string> append_batch(const ArrowSchema& schema, const ArrowArray& batch,
                                        std::span<const int64_t> child_of, std::span<Column> columns) {
  if (batch.release == nullptr) return std::string("batch already released");
  if (batch.length < 0 || batch.offset < 0) return std::string("batch of negative length or offset");
  if (batch.length > MAX_ROWS || batch.offset > MAX_ROWS - batch.length) {
    return "batch of more than " + std::to_string(MAX_ROWS) + " rows";
  }
  if (batch.n_children != schema.n_children || (batch.n_children > 0 && batch.children == nullptr)) {
    return std::string("batch whose columns do not match its schema");
  }
  const bool has_bitmap = batch.n_buffers > 0 && batch.buffers != nullptr && batch.buffers[0] != nullptr;
  if (batch.null_count > 0 && !has_bitmap) {
    return "batch with " + std::to_string(batch.null_count) + " nulls but no validity bitmap";
  }
  if (batch.null_count != 0 && has_bitmap) return std::string("batch with rows that are null as a whole");
  for (int64_t i = 0; i < batch.n_children; ++i) {
    const ArrowArray* child = batch.children[i];
    if (child == nullptr) return std::string("batch with a missing column");
    if (child->length < batch.offset || child->length - batch.offset < batch.length) {
      const char* name = schema.children[i]->name;
      return "batch of " + std::to_string(batch.length) + " rows from row " + std::to_string(batch.offset) +
             " whose column '" + escaped_text(name != nullptr ? name : "") + "' has " + std::to_string(child->length);
    }
  }
  for (size_t j = 0; j < columns.size(); ++j) {
    const int64_t c = child_of[j];
    auto view = view_array(*schema.children[c], *batch.children[c], batch.offset, batch.length);
    if (!view.ok()) return "column '" + columns[j].key + "': " + view.error();
    if (!columns[j].can_take(view->length)) return "a table of more than " + std::to_string(MAX_ROWS) + " rows";
    columns[j].append(std::move(*view));
  }
  return std::nullopt;
}

}  // namespace vexlor::columnar
