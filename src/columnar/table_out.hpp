#pragma once
// Tables made of results: struct arrays whose children are the kept input
// columns, then one column per output.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "columnar/result.hpp"
#include "columnar/stream.hpp"

namespace vexlor::columnar {

// The struct schema of such a table: copies of the kept fields of `input`, then
// a field per output named `names[i]` of type `types[i]`. False on failure.
bool output_schema(const ArrowSchema& input, std::span<const int64_t> keep, std::span<const std::string> names,
                   std::span<const ExportType> types, ArrowSchema* out);

// One batch of the stream: its kept columns (moved out of `batch`) and each
// output as decimal128(38, scales[i]). A row that does not fit gives
// ScaleOverflow (its row counted from the start of the stream); false on
// allocation failure.
Expected<bool, ScaleOverflow> output_batch(BatchResults& batch, std::span<const std::string> names,
                                           std::span<const int32_t> scales, ArrowArray* out);

// The kept columns of every batch of a table read whole, shared by its exports.
struct KeptColumns {
  ArrowSchema schema{};  // a struct of the kept fields
  std::vector<std::vector<ArrowArray>> batches;
  std::vector<int64_t> lengths;
  KeptColumns() = default;
  KeptColumns(const KeptColumns&) = delete;
  KeptColumns& operator=(const KeptColumns&) = delete;
  ~KeptColumns();
};

// A stream of the table: batch by batch the kept columns (when `kept` is set),
// then the outputs as exported. False on allocation failure.
bool export_table_stream(const std::shared_ptr<const KeptColumns>& kept,
                         std::vector<std::shared_ptr<const Exported>> outputs, ArrowArrayStream* out);

}  // namespace vexlor::columnar
