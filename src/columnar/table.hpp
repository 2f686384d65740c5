#pragma once
// Tables through the Arrow C data interface: a struct array whose children are
// the columns, matched to variables by name.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "columnar/column.hpp"
#include "parser/varid.hpp"

namespace vexlor::columnar {

// The variable a column name (or a mapping key) stands for: a UUID in any of its
// text forms, else the name unchanged.
VarId column_key(std::string_view name);

// For each of `wanted`, the index of the child of the struct schema `schema`
// named for it, or -1. Two children named for the same variable are an error
// that starts with "duplicate column" (a malformed schema is another error).
Expected<std::vector<int64_t>, std::string> match_columns(const ArrowSchema& schema, std::span<const VarId> wanted);

// Appends the rows of one struct array of that schema to `columns`
// (columns[j] takes child child_of[j]; every child_of[j] is >= 0). The error
// says what is malformed.
std::optional<std::string> append_batch(const ArrowSchema& schema, const ArrowArray& batch,
                                        std::span<const int64_t> child_of, std::span<Column> columns);

}  // namespace vexlor::columnar
