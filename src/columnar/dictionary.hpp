#pragma once
// The values of a dictionary-encoded column, each dictionary entry read once
// (on its first use, by the single-row reader) rather than once per row.

#include <cstdint>
#include <vector>

#include "columnar/column.hpp"
#include "columnar/read.hpp"

namespace vexlor::columnar {

class DictionaryReader {
 public:
  // Rows [row, row + count) of `column` as read_rows reads them; false (nothing
  // read) unless every chunk they touch is dictionary-encoded.
  bool read(const Column& column, int64_t row, int64_t count, Decimal* out, Slot* slots);

 private:
  const ArrayView* dictionary_ = nullptr;  // the one whose entries are kept
  Column values_;                          // it, as a column
  std::vector<Decimal> decoded_;
  std::vector<uint8_t> state_;             // 0: not read yet, else its Slot + 1
};

}  // namespace vexlor::columnar
