// Binding a table's schema to programs, and evaluating it batch by batch.

#include "columnar/batch.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "columnar/table.hpp"

namespace vexlor::columnar {

std::vector<VarId> variables_of(const Program& program) {
  std::vector<std::pair<std::string, VarId>> found;
  for (const OpCode& op : program) {
    if (op.kind() == OpKind::LoadVar) found.emplace_back(op.var().display(), op.var());
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  found.erase(std::unique(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
              found.end());
  std::vector<VarId> vars;
  for (auto& f : found) vars.push_back(std::move(f.second));
  return vars;
}

namespace {

SchemaProblem problem(SchemaProblem::Kind kind, std::string message) { return {kind, std::move(message)}; }

}  // namespace

std::optional<SchemaProblem> bind_schema(const ArrowSchema& schema, std::span<const std::string> keep, BatchPlan& plan) {
  using Kind = SchemaProblem::Kind;
  if (schema.format == nullptr || std::strcmp(schema.format, "+s") != 0) {
    return problem(Kind::Unsupported, std::string("a table must be a struct of columns, not ") +
                                          (schema.format == nullptr ? std::string("a schema without a format")
                                                                    : type_name(schema.format)));
  }
  if (schema.n_children < 0 || (schema.n_children > 0 && schema.children == nullptr)) {
    return problem(Kind::Malformed, "struct schema without its children");
  }
  std::vector<VarId> keys;
  for (int64_t i = 0; i < schema.n_children; ++i) {
    const ArrowSchema* child = schema.children[i];
    if (child == nullptr) return problem(Kind::Malformed, "struct schema with a missing child");
    keys.push_back(child->name != nullptr ? column_key(child->name) : VarId::name("\x01"));
  }
  for (const SharedValue& s : plan.shared) {
    if (std::find(keys.begin(), keys.end(), s.var) != keys.end()) {
      return problem(Kind::Malformed, "'" + s.var.display() + "' is given both in vars and as a column");
    }
  }
  for (OutputProgram& out : plan.outputs) {
    out.child.assign(out.vars.size(), -1);
    for (size_t j = 0; j < out.vars.size(); ++j) {
      const VarId& var = out.vars[j];
      const auto shared = std::find_if(plan.shared.begin(), plan.shared.end(),
                                       [&](const SharedValue& s) { return s.var == var; });
      if (shared != plan.shared.end()) {
        out.child[j] = -1 - (shared - plan.shared.begin());
        continue;
      }
      const auto first = std::find(keys.begin(), keys.end(), var);
      if (first == keys.end()) return problem(Kind::Missing, "Variable not found: " + var.display());
      if (std::find(first + 1, keys.end(), var) != keys.end()) {
        return problem(Kind::Malformed,
                       "duplicate column '" + var.display() + "': the table has two columns of that name");
      }
      const int64_t c = first - keys.begin();
      const ArrowSchema& field = *schema.children[c];
      if (field.format == nullptr) return problem(Kind::Malformed, "column '" + var.display() + "': no format");
      auto type = parse_format(field.format, field.dictionary != nullptr ? field.dictionary->format : nullptr);
      if (!type.ok()) {
        return problem(Kind::Unsupported, "column '" + var.display() + "': unsupported type " + type.error());
      }
      out.child[j] = c;
    }
  }
  plan.keep.clear();
  for (const std::string& name : keep) {
    int64_t found = -1;
    for (int64_t i = 0; i < schema.n_children; ++i) {
      if (schema.children[i]->name == nullptr || name != schema.children[i]->name) continue;
      if (found >= 0) {
        return problem(Kind::Malformed, "duplicate column '" + name + "': the table has two columns of that name");
      }
      found = i;
    }
    if (found < 0) return problem(Kind::Malformed, "keep: the table has no column '" + name + "'");
    if (std::find(plan.keep.begin(), plan.keep.end(), found) != plan.keep.end()) {
      return problem(Kind::Malformed, "keep: column '" + name + "' named twice");
    }
    plan.keep.push_back(found);
  }
  return std::nullopt;
}

BatchRun run_batch(const BatchPlan& plan, const ArrowSchema& schema, const ArrowArray& batch,
                   const RunOptions& options) {
  BatchRun run;
  for (const OutputProgram& out : plan.outputs) {
    // The columns read, through the table reader (which checks the batch itself), then the shared values.
    std::vector<int64_t> child_of;
    std::vector<Column> read;
    for (size_t j = 0; j < out.vars.size(); ++j) {
      if (out.child[j] < 0) continue;
      child_of.push_back(out.child[j]);
      read.emplace_back().key = out.vars[j].display();
    }
    if (auto error = append_batch(schema, batch, child_of, read)) {
      run.malformed = std::move(*error);
      return run;
    }
    std::vector<BoundConstant> constants;
    std::vector<BoundColumn> bound;
    size_t next_read = 0;
    for (size_t j = 0; j < out.vars.size(); ++j) {
      const int64_t c = out.child[j];
      if (c >= 0) bound.push_back({out.vars[j], &read[next_read++]});
      else constants.push_back({out.vars[j], plan.shared[static_cast<size_t>(-1 - c)].value});
    }
    RunOptions with_constants = options;
    with_constants.constants = constants;
    run.results.push_back(run_columns(out.program, bound, batch.length, with_constants));
  }
  return run;
}

std::optional<std::string> take_kept(const BatchPlan& plan, ArrowArray& batch, std::vector<ArrowArray>& out) {
  for (const int64_t c : plan.keep) {
    ArrowArray* child = batch.children[c];
    if (child == nullptr || child->release == nullptr) return std::string("batch with a missing column");
    if (child->length < 0 || child->offset < 0 || child->length < batch.offset + batch.length) {
      return "column '" + std::to_string(c) + "' shorter than its batch";
    }
  }
  for (const int64_t c : plan.keep) {
    ArrowArray* child = batch.children[c];
    ArrowArray moved = *child;
    child->release = nullptr;
    if (batch.offset != 0 || moved.length != batch.length) {
      moved.offset += batch.offset;
      moved.length = batch.length;
      moved.null_count = moved.null_count == 0 ? 0 : -1;
    }
    out.push_back(moved);
  }
  return std::nullopt;
}

namespace {

struct SchemaCopy {
  std::string format, name, metadata;
  std::vector<ArrowSchema*> children;
  ArrowSchema* dictionary = nullptr;
};

void release_copy(ArrowSchema* schema) {
  auto* copy = static_cast<SchemaCopy*>(schema->private_data);
  for (ArrowSchema* child : copy->children) {
    if (child->release != nullptr) child->release(child);
    delete child;
  }
  if (copy->dictionary != nullptr) {
    if (copy->dictionary->release != nullptr) copy->dictionary->release(copy->dictionary);
    delete copy->dictionary;
  }
  delete copy;
  schema->release = nullptr;
}

size_t metadata_size(const char* metadata) {
  if (metadata == nullptr) return 0;
  int32_t pairs = 0;
  std::memcpy(&pairs, metadata, 4);
  size_t at = 4;
  for (int32_t i = 0; i < 2 * pairs; ++i) {
    int32_t length = 0;
    std::memcpy(&length, metadata + at, 4);
    at += 4 + static_cast<size_t>(std::max(length, 0));
  }
  return at;
}

bool copy_node(const ArrowSchema& from, ArrowSchema* to, const char* rename, int depth) {
  std::memset(to, 0, sizeof *to);
  if (depth > 64 || from.format == nullptr || from.n_children < 0) return false;
  auto* copy = new (std::nothrow) SchemaCopy;
  if (copy == nullptr) return false;
  *to = ArrowSchema{nullptr, nullptr, nullptr, from.flags, 0, nullptr, nullptr, release_copy, copy};
  try {
    copy->format = from.format;
    copy->name = rename != nullptr ? rename : (from.name != nullptr ? from.name : "");
    copy->metadata.assign(from.metadata != nullptr ? from.metadata : "", metadata_size(from.metadata));
    for (int64_t i = 0; i < from.n_children; ++i) {
      copy->children.push_back(new ArrowSchema{});
      if (from.children[i] == nullptr || !copy_node(*from.children[i], copy->children.back(), nullptr, depth + 1)) {
        release_copy(to);
        return false;
      }
    }
    if (from.dictionary != nullptr) {
      copy->dictionary = new ArrowSchema{};
      if (!copy_node(*from.dictionary, copy->dictionary, nullptr, depth + 1)) {
        release_copy(to);
        return false;
      }
    }
  } catch (const std::bad_alloc&) {
    release_copy(to);
    return false;
  }
  to->format = copy->format.c_str();
  to->name = copy->name.c_str();
  to->metadata = from.metadata != nullptr ? copy->metadata.data() : nullptr;
  to->n_children = from.n_children;
  to->children = copy->children.empty() ? nullptr : copy->children.data();
  to->dictionary = copy->dictionary;
  return true;
}

}  // namespace

bool copy_schema(const ArrowSchema& from, ArrowSchema* to, const char* rename) { return copy_node(from, to, rename, 0); }

std::string arrow_type_text(const ArrowSchema& field) {
  const ArrowSchema& values = field.dictionary != nullptr ? *field.dictionary : field;
  if (values.format == nullptr) return "null";
  std::string name = type_name(values.format);
  if (name == "string" || name == "string_view") return "utf8";
  if (name == "large_string") return "large_utf8";
  return name;
}

}  // namespace vexlor::columnar
