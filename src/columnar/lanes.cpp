// Loading column blocks as 64-bit coefficients for the vectorised path.

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "columnar/fast.hpp"

namespace vexlor::columnar::fast {

bool loadable(const Column& column, int64_t row, int64_t count) {
  const size_t first = column.chunk_of(row);
  const bool decimal = column.chunks[first].type == ValueType::Decimal;
  const int32_t scale = column.chunks[first].scale;
  for (size_t c = first; c < column.chunks.size() && column.starts[c] < row + count; ++c) {
    const ArrayView& v = column.chunks[c];
    if (v.dictionary || (v.type == ValueType::Decimal) != decimal) return false;
    switch (v.type) {
      case ValueType::Bool: case ValueType::Int8: case ValueType::Int16: case ValueType::Int32: case ValueType::Int64:
      case ValueType::UInt8: case ValueType::UInt16: case ValueType::UInt32: case ValueType::UInt64:
        break;
      case ValueType::Decimal:
        if (v.scale < 0 || v.scale > static_cast<int32_t>(MAX_SCALE) || v.scale != scale) return false;
        break;
      default:
        return false;
    }
  }
  return true;
}

namespace {

template <class T>
void load_ints(const ArrayView& v, int64_t at, int64_t count, int64_t* out, uint8_t* slow) {
  const T* p = static_cast<const T*>(v.values) + v.offset + at;
  for (int64_t k = 0; k < count; ++k) {
    out[k] = static_cast<int64_t>(p[k]);
    if constexpr (std::is_same_v<T, uint64_t>) slow[k] |= p[k] > static_cast<uint64_t>(INT64_MAX);
  }
}

void load_chunk(const ArrayView& v, int64_t at, int64_t count, int64_t* out, uint8_t* slow) {
  switch (v.type) {
    case ValueType::Int8: load_ints<int8_t>(v, at, count, out, slow); break;
    case ValueType::Int16: load_ints<int16_t>(v, at, count, out, slow); break;
    case ValueType::Int32: load_ints<int32_t>(v, at, count, out, slow); break;
    case ValueType::Int64: load_ints<int64_t>(v, at, count, out, slow); break;
    case ValueType::UInt8: load_ints<uint8_t>(v, at, count, out, slow); break;
    case ValueType::UInt16: load_ints<uint16_t>(v, at, count, out, slow); break;
    case ValueType::UInt32: load_ints<uint32_t>(v, at, count, out, slow); break;
    case ValueType::UInt64: load_ints<uint64_t>(v, at, count, out, slow); break;
    case ValueType::Bool:
      for (int64_t k = 0; k < count; ++k) {
        const int64_t i = v.offset + at + k;
        out[k] = (static_cast<const uint8_t*>(v.values)[i >> 3] >> (i & 7)) & 1;
      }
      break;
    case ValueType::Decimal:
      if (v.decimal_bytes == 16) {
        const auto* w = static_cast<const unsigned char*>(v.values) + 16 * (v.offset + at);
        for (int64_t k = 0; k < count; ++k) {
          int64_t lo, hi;
          std::memcpy(&lo, w + 16 * k, 8);
          std::memcpy(&hi, w + 16 * k + 8, 8);
          out[k] = lo;
          slow[k] |= hi != (lo >> 63);
        }
      } else if (v.decimal_bytes == 8) {
        load_ints<int64_t>(v, at, count, out, slow);
      } else {
        load_ints<int32_t>(v, at, count, out, slow);
      }
      break;
    default:
      std::memset(slow, 1, static_cast<size_t>(count));
  }
  if (v.validity != nullptr) {
    for (int64_t k = 0; k < count; ++k) slow[k] |= v.is_null(at + k);
  }
}

}  // namespace

Lanes load_lanes(const Column& column, int64_t row, int64_t count, int64_t* out, uint8_t* slow) {
  const ArrayView& first = column.chunks[column.chunk_of(row)];
  const int32_t scale = first.type == ValueType::Decimal ? first.scale : 0;
  column.for_each_part(row, count, [&](const ArrayView& v, int64_t at, int64_t take, int64_t done) {
    load_chunk(v, at, take, out + done, slow + done);
  });
  uint64_t bound = 0, least = UINT64_MAX;
  for (int64_t k = 0; k < count; ++k) {
    const uint64_t sign = static_cast<uint64_t>(out[k] >> 63);
    const uint64_t magnitude = (static_cast<uint64_t>(out[k]) ^ sign) - sign;
    bound = std::max(bound, magnitude);
    least = std::min(least, magnitude);
  }
  return {out, scale, bound, least};
}

}  // namespace vexlor::columnar::fast
