#include "columnar/dictionary.hpp"

namespace vexlor::columnar {

namespace {
constexpr int64_t MAX_ENTRIES = int64_t{1} << 20;  // larger dictionaries are read row by row
}

bool DictionaryReader::read(const Column& column, int64_t row, int64_t count, Decimal* out, Slot* slots) {
  bool encoded = true;
  column.for_each_part(row, count, [&](const ArrayView& v, int64_t, int64_t, int64_t) {
    encoded &= v.dictionary != nullptr && v.dictionary->length <= MAX_ENTRIES;
  });
  if (!encoded) return false;
  column.for_each_part(row, count, [&](const ArrayView& v, int64_t at, int64_t take, int64_t done) {
    const ArrayView& d = *v.dictionary;
    if (&d != dictionary_) {
      dictionary_ = &d;
      values_ = Column{};
      values_.append(d);
      decoded_.assign(static_cast<size_t>(d.length), Decimal());
      state_.assign(static_cast<size_t>(d.length), 0);
    }
    for (int64_t k = 0; k < take; ++k) {
      if (v.is_null(at + k)) {
        slots[done + k] = Slot::Null;
        continue;
      }
      const int64_t i = index_at(v.index, v.values, v.offset + at + k);  // in range: checked when viewed
      auto& state = state_[static_cast<size_t>(i)];
      if (state == 0) {
        Slot slot;
        read_rows(values_, i, 1, &decoded_[static_cast<size_t>(i)], &slot);
        state = static_cast<uint8_t>(static_cast<uint8_t>(slot) + 1);
      }
      slots[done + k] = static_cast<Slot>(state - 1);
      out[done + k] = decoded_[static_cast<size_t>(i)];
    }
  });
  return true;
}

}  // namespace vexlor::columnar
